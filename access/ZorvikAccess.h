/*
 * ZorvikAccess: the controller access library.
 *
 * Keeps one TCP link per door controller, named in every call by the pair
 * (controller address text, TCP port); frames and checks the controller protocol;
 * reconnects lost links by itself; and calls its host back with link changes,
 * controller reports and command replies.
 *
 * Calling convention: every export and every callback is __stdcall on 32-bit Windows,
 * with undecorated export names (the convention host programs call a DLL with); on
 * other platforms the platform's default C convention. Usable from C and C++.
 *
 * Texts are NUL-terminated 8-bit strings. Payloads cross this interface as hexadecimal
 * text, two digits per byte: reports (command codes 0x12..0x1F) arrive in upper case,
 * replies in lower case. Input hex text is read by the library's rule: a character's
 * value is c - 0x30 for '0'..'9' and c - 0x37 for anything else (so use upper case).
 *
 * Callbacks run on the library's threads (or, for the first link-up, on the thread
 * calling Zorvik_ConnectToServer), never on another thread of the host. A link's
 * callbacks come one at a time and in order (its frames as they arrived, its loss after
 * them, its next link-up after that); callbacks of different links may run at the same
 * time on different threads. The texts they receive belong to the library and are valid
 * only during the call: copy what you keep. Callbacks may call back into the library; a
 * host with a user interface must hand the data to its own thread.
 *
 * Sent now or never: a frame is accepted only for a link that is online, and goes out on
 * that very connection. A frame for an offline link is refused (nothing is queued), and
 * when a link is lost, what it had queued but not yet sent is dropped: a command never
 * reaches a controller minutes later, after its link came back.
 *
 * Results:
 *   Zorvik_SendData          1 = queued on an online link
 *                            0 = refused: pair not registered, link offline, or bad length
 *   Zorvik_SendDataWithRet(Ex), Zorvik_Init, Zorvik_VerifyTime
 *                            the reply's command code (0..255)
 *                            9 = pair not registered, link offline, request too long,
 *                                no reply in time, or library stopping
 *   Zorvik_EnableUpload      0 = queued on an online link
 *                            9 = pair not registered or link offline
 *   Zorvik_ConnectToServer   1 = online now; 0 = otherwise (see there)
 * A controller reply whose command code is 9 cannot be told from the failure result.
 * The library never logs and never throws.
 */
#ifndef ZORVIK_ACCESS_H
#define ZORVIK_ACCESS_H

#ifdef _WIN32
#define ZORVIK_CALL __stdcall
#else
#define ZORVIK_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A link came up (connected = 1), or the very first attempt inside
 * Zorvik_ConnectToServer failed (connected = 0). */
typedef void(ZORVIK_CALL* ConnCallback)(const char* ip, int port, int connected);

/* An online link was lost: the controller closed it, a send failed, or no frame came
 * back within the reply time-out. */
typedef void(ZORVIK_CALL* DisConnCallback)(const char* ip, int port);

/* A valid frame from a controller. DoorDataUpCallback gets reports (0x12..0x1F) with
 * upper-case hex; DoorCommandRecvCallback gets every other frame no waiting
 * Zorvik_SendDataWithRet claimed, with lower-case hex. apCode 0..65535, psw 0..16777215,
 * only the low byte of cmd is defined; dataLen is the number of hex characters. */
typedef void(ZORVIK_CALL* DoorDataUpCallback)(const char* ip, int port, int apCode, int psw,
                                              int cmd, const char* data, int dataLen);
typedef void(ZORVIK_CALL* DoorCommandRecvCallback)(const char* ip, int port, int apCode, int psw,
                                                   int cmd, const char* data, int dataLen);

/* Register a callback (null unregisters); each returns the pointer given. Register them
 * before the first Zorvik_ConnectToServer: reports arriving earlier are dropped. */
ConnCallback ZORVIK_CALL Zorvik_SetConnCallback(ConnCallback callback);
DisConnCallback ZORVIK_CALL Zorvik_SetDisConnCallback(DisConnCallback callback);
DoorDataUpCallback ZORVIK_CALL Zorvik_SetDoorDataUpCallback(DoorDataUpCallback callback);
DoorCommandRecvCallback ZORVIK_CALL
Zorvik_SetDoorCommandRecvCallback(DoorCommandRecvCallback callback);

/* Registers the pair and makes one connection attempt (2 s time-out).
 * 1: connected now (ConnCallback(..., 1) was raised on this thread).
 * 0: the pair was already registered (nothing done), the first attempt failed (the entry
 *    stays registered offline, ConnCallback(..., 0) was raised, and the library retries
 *    every 30 s), or the address text is null or longer than 49 characters or the port
 *    is outside 1..65535 (nothing registered, nothing raised). */
unsigned char ZORVIK_CALL Zorvik_ConnectToServer(const char* ip, int port);

/* Closes and forgets one link; raises no DisConnCallback. Result has no defined meaning. */
int ZORVIK_CALL Zorvik_Disconnect(const char* ip, int port);

/* Stops the library: pending waits give up, every link is closed and forgotten.
 * Does nothing before the first Zorvik_ConnectToServer or when called again. */
unsigned char ZORVIK_CALL Zorvik_DisconnectAll(void);

/* Queues a frame on an online link (payload: dataLen hex characters; an odd length takes
 * one more character; characters after the text's NUL count as NUL). 1: queued, it goes
 * out on the current connection (or not at all, if that connection is lost first);
 * 0: pair not registered, link offline, or dataLen negative or too long for a frame
 * (payload over 16373 bytes): nothing queued, nothing will be sent. */
int ZORVIK_CALL Zorvik_SendData(const char* ip, int port, int cmd, int apCode, int psw,
                                const char* data, int dataLen);

/* Sends a frame and waits up to timeoutMs for the reply carrying the same ApCode,
 * dispatching the calling thread's window messages meanwhile. Returns the reply's
 * command code, or 9 (not registered, link offline, request too long for a frame, no
 * reply in time, library stopping; an offline link gives 9 at once). When the reply's command
 * equals cmd, its length (hex characters) is stored through replyLen and its lower-case hex (no
 * NUL) copied to reply. The caller's buffer must hold the longest reply it expects; prefer
 * Zorvik_SendDataWithRetEx, which copies the hex only when it fits in replySize characters (the
 * length is stored either way, so a caller sees how much room the reply needs) and never writes
 * past it. */
int ZORVIK_CALL Zorvik_SendDataWithRet(const char* ip, int port, int cmd, int apCode, int psw,
                                       const char* data, int dataLen, int timeoutMs, char* reply,
                                       int* replyLen);
int ZORVIK_CALL Zorvik_SendDataWithRetEx(const char* ip, int port, int cmd, int apCode, int psw,
                                         const char* data, int dataLen, int timeoutMs, char* reply,
                                         int replySize, int* replyLen);

/* Queues the upload switch (AA AA 03 01 BB when the low byte of enable is non-zero,
 * else AA AA 03 02 BB) on an online link. 0: queued; 9: pair not registered or link
 * offline (a host enables the upload from its ConnCallback, when the link is online). */
int ZORVIK_CALL Zorvik_EnableUpload(const char* ip, int port, int enable);

/* Init command (0x10, 5000 ms) and time command with the PC's local time (0x11, 500 ms),
 * as Zorvik_SendDataWithRet: the reply's command code or 9. */
int ZORVIK_CALL Zorvik_Init(const char* ip, int port);
int ZORVIK_CALL Zorvik_VerifyTime(const char* ip, int port);

/* 1 when the pair is registered and online, else 0. */
int ZORVIK_CALL Zorvik_IsOnline(const char* ip, int port);

/* Writes "ip:port|" for every online link, in registration order, and returns their
 * number. The buffer must hold the whole list; prefer Zorvik_OnlineListEx, which writes
 * at most size bytes (always NUL-terminated, whole entries only) and returns the number
 * of entries written. */
int ZORVIK_CALL Zorvik_OnlineList(char* out);
int ZORVIK_CALL Zorvik_OnlineListEx(char* out, int size);

/* Pass value whose low 24 bits fill Psw of the library's own commands. Returns 0. */
unsigned char ZORVIK_CALL Zorvik_SetPass(int value);

/* Stores two 32-bit key words; nothing is enciphered. Returns 1. */
unsigned char ZORVIK_CALL Zorvik_SetEncryptKey(const unsigned int* key);

/* CRC-16/XMODEM of a whole file. 1: stored through result; 0: cannot open the file. */
unsigned char ZORVIK_CALL Zorvik_FileCheckCrc16(const char* path, unsigned short* result);

/* Counters since the library was loaded, to check that nothing is lost on the way from
 * the controllers to the host. Writes up to count values (32 bits, wrapping) and returns
 * how many it wrote:
 *   [0] valid frames received from controllers
 *   [1] reports handed to DoorDataUpCallback
 *   [2] replies handed to DoorCommandRecvCallback
 *   [3] replies taken by a waiting Zorvik_SendDataWithRet, Zorvik_Init, Zorvik_VerifyTime
 *       or the library's keep-alive
 *   [4] frames that found no callback registered
 * [0] minus [1] to [4] is what is still queued for a callback, or was dropped because its
 * link was closed (Zorvik_Disconnect, Zorvik_DisconnectAll) before its turn. */
int ZORVIK_CALL Zorvik_GetCounters(unsigned int* values, int count);

/* The same for one registered link: [0] valid frames received on it, [1] reports handed
 * to DoorDataUpCallback. 0 (nothing written) for a pair not registered. */
int ZORVIK_CALL Zorvik_GetLinkCounters(const char* ip, int port, unsigned int* values, int count);

#ifdef __cplusplus
}

/* Exported for hosts that expect it; it has no members and does nothing. */
class CZorvikAccess {
  public:
    CZorvikAccess();
    CZorvikAccess& operator=(const CZorvikAccess& other);
};
#endif

#endif /* ZORVIK_ACCESS_H */
