// The exported C interface: a thin layer over one process-wide Library.
//
// Every export catches everything: no exception ever reaches a host. The only one that
// can occur is running out of memory, which turns into the export's failure result.
#include <new>

#include "ZorvikAccess.h"
#include "library.h"

using zorvik::access::Library;

namespace {

// Created by the first call, never destroyed: hosts may call the library from threads
// that outlive static destruction, and a DLL must not wait for threads while it unloads.
// A host ends the library's threads with Zorvik_DisconnectAll before unloading it.
Library& library() {
    static Library* instance = new Library();
    return *instance;
}

template <class Fn, class R>
R guarded(R failure, Fn&& fn) noexcept {
    try {
        return fn();
    } catch (...) {
        return failure;
    }
}

}  // namespace

extern "C" {

ConnCallback ZORVIK_CALL Zorvik_SetConnCallback(ConnCallback callback) {
    return guarded(callback, [&] {
        library().callbacks().conn.store(callback);
        return callback;
    });
}

DisConnCallback ZORVIK_CALL Zorvik_SetDisConnCallback(DisConnCallback callback) {
    return guarded(callback, [&] {
        library().callbacks().disconn.store(callback);
        return callback;
    });
}

DoorDataUpCallback ZORVIK_CALL Zorvik_SetDoorDataUpCallback(DoorDataUpCallback callback) {
    return guarded(callback, [&] {
        library().callbacks().report.store(callback);
        return callback;
    });
}

DoorCommandRecvCallback ZORVIK_CALL
Zorvik_SetDoorCommandRecvCallback(DoorCommandRecvCallback callback) {
    return guarded(callback, [&] {
        library().callbacks().reply.store(callback);
        return callback;
    });
}

unsigned char ZORVIK_CALL Zorvik_ConnectToServer(const char* ip, int port) {
    return guarded<>(static_cast<unsigned char>(0),
                     [&] { return static_cast<unsigned char>(library().connect(ip, port)); });
}

int ZORVIK_CALL Zorvik_Disconnect(const char* ip, int port) {
    return guarded(0, [&] { return library().disconnect(ip, port); });
}

unsigned char ZORVIK_CALL Zorvik_DisconnectAll(void) {
    return guarded<>(static_cast<unsigned char>(0),
                     [&] { return static_cast<unsigned char>(library().disconnect_all()); });
}

int ZORVIK_CALL Zorvik_SendData(const char* ip, int port, int cmd, int apCode, int psw,
                                const char* data, int dataLen) {
    return guarded(0,
                   [&] { return library().send_data(ip, port, cmd, apCode, psw, data, dataLen); });
}

int ZORVIK_CALL Zorvik_SendDataWithRet(const char* ip, int port, int cmd, int apCode, int psw,
                                       const char* data, int dataLen, int timeoutMs, char* reply,
                                       int* replyLen) {
    return guarded(9, [&] {
        return library().send_data_with_ret(ip, port, cmd, apCode, psw, data, dataLen, timeoutMs,
                                            reply, Library::kUnbounded, replyLen);
    });
}

int ZORVIK_CALL Zorvik_SendDataWithRetEx(const char* ip, int port, int cmd, int apCode, int psw,
                                         const char* data, int dataLen, int timeoutMs, char* reply,
                                         int replySize, int* replyLen) {
    return guarded(9, [&] {
        const std::size_t size = replySize > 0 ? static_cast<std::size_t>(replySize) : 0;
        return library().send_data_with_ret(ip, port, cmd, apCode, psw, data, dataLen, timeoutMs,
                                            reply, size, replyLen);
    });
}

int ZORVIK_CALL Zorvik_EnableUpload(const char* ip, int port, int enable) {
    return guarded(9, [&] { return library().enable_upload(ip, port, enable); });
}

int ZORVIK_CALL Zorvik_Init(const char* ip, int port) {
    return guarded(9, [&] { return library().init(ip, port); });
}

int ZORVIK_CALL Zorvik_VerifyTime(const char* ip, int port) {
    return guarded(9, [&] { return library().verify_time(ip, port); });
}

int ZORVIK_CALL Zorvik_IsOnline(const char* ip, int port) {
    return guarded(0, [&] { return library().is_online(ip, port); });
}

int ZORVIK_CALL Zorvik_OnlineList(char* out) {
    return guarded(0, [&] { return library().online_list(out, Library::kUnbounded); });
}

int ZORVIK_CALL Zorvik_OnlineListEx(char* out, int size) {
    return guarded(0, [&] {
        return size > 0 ? library().online_list(out, static_cast<std::size_t>(size)) : 0;
    });
}

unsigned char ZORVIK_CALL Zorvik_SetPass(int value) {
    return guarded<>(static_cast<unsigned char>(0),
                     [&] { return static_cast<unsigned char>(library().set_pass(value)); });
}

unsigned char ZORVIK_CALL Zorvik_SetEncryptKey(const unsigned int* key) {
    return guarded<>(static_cast<unsigned char>(0),
                     [&] { return static_cast<unsigned char>(library().set_encrypt_key(key)); });
}

unsigned char ZORVIK_CALL Zorvik_FileCheckCrc16(const char* path, unsigned short* result) {
    return guarded<>(static_cast<unsigned char>(0), [&] {
        return static_cast<unsigned char>(zorvik::access::file_check_crc16(path, result));
    });
}

int ZORVIK_CALL Zorvik_GetCounters(unsigned int* values, int count) {
    return guarded<>(0, [&] { return library().counters(values, count); });
}

int ZORVIK_CALL Zorvik_GetLinkCounters(const char* ip, int port, unsigned int* values, int count) {
    return guarded<>(0, [&] { return library().link_counters(ip, port, values, count); });
}

}  // extern "C"
