// The commands of opcclient; each returns its exit code (options.h) or raises
// TClientFailure (session.h).
#pragma once

#include <string>
#include <vector>

#include "options.h"
#include "session.h"

namespace porvex::opcclient {

int RunServers(const TOptions& options);
int RunStatus(const TOptions& options);
int RunBrowse(const TOptions& options);
int RunProps(const TOptions& options);
int RunRead(const TOptions& options);
int RunWrite(const TOptions& options);
int RunSubscribe(const TOptions& options);
int RunEvents(const TOptions& options);
int RunAck(const TOptions& options);

// Every item ID below branch (the whole namespace for an empty one), through flat browsing.
std::vector<std::wstring> BrowseItemIds(const TSession& session, const std::wstring& branch,
                                        const std::wstring& filter);

// The text of an UTF-8 argument.
std::wstring Wide(const std::string& text);

}  // namespace porvex::opcclient
