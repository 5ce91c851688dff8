// Settings in a plain text file, where there is no registry. Same value names and
// forms as the registry key: one value per line,
//
//     OPCDBTYPE=dword:2
//     OPCIP=sz:/var/lib/porvex/doors.db
//
// with "\\" and "\n" escaped in strings. Opening creates an empty file (and its folder)
// when missing, as opening the registry key creates the key. Saving rewrites the file
// through a temporary file, so a crash never leaves half a file behind.
#pragma once

#include <filesystem>
#include <map>

#include "settings/settings_store.h"

namespace porvex {

class FileSettingsStore final : public SettingsStore {
  public:
    explicit FileSettingsStore(std::filesystem::path path) : path_(std::move(path)) {}

    std::unique_ptr<SettingsKey> open() override;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// $PORVEX_SETTINGS, else $XDG_CONFIG_HOME/porvex/settings.conf, else
// $HOME/.config/porvex/settings.conf.
std::filesystem::path default_settings_path();

}  // namespace porvex
