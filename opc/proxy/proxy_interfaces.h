/*
 * The interfaces this proxy/stub DLL marshals, read from the tables widl generated (they
 * are C structures, so this part is C).
 */
#ifndef PORVEX_PROXY_INTERFACES_H
#define PORVEX_PROXY_INTERFACES_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Interface number index (0, 1, ...): its ID, name and method count; FALSE past the end. */
BOOL PorvexProxyInterface(unsigned index, const IID** iid, const char** name,
                          unsigned long* methods);

#ifdef __cplusplus
}
#endif

#endif
