#include "settings/file_settings_store.h"

#include <cstdlib>
#include <fstream>
#include <system_error>
#include <variant>

#include "core/text.h"

namespace porvex {

namespace {

constexpr std::string_view kDwordTag = "dword:";
constexpr std::string_view kStringTag = "sz:";

struct Entry {
    std::string name;  // as written
    std::string raw;   // the text after '=', type tag included
};

std::string escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

class FileSettingsKey final : public SettingsKey {
  public:
    FileSettingsKey(std::filesystem::path path, std::map<std::string, Entry> entries)
        : path_(std::move(path)), entries_(std::move(entries)) {}

    std::optional<std::int32_t> read_integer(std::string_view name) override {
        const Entry* e = find(name);
        if (e == nullptr || e->raw.rfind(kDwordTag, 0) != 0) {
            return std::nullopt;
        }
        const std::string_view digits = std::string_view(e->raw).substr(kDwordTag.size());
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
            return std::nullopt;
        }
        const std::uint64_t value = std::strtoull(std::string(digits).c_str(), nullptr, 10);
        if (digits.size() > 10 || value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }

    std::optional<std::string> read_string(std::string_view name) override {
        const Entry* e = find(name);
        if (e == nullptr) {
            return std::string();
        }
        if (e->raw.rfind(kStringTag, 0) != 0) {
            return std::nullopt;
        }
        return unescape(std::string_view(e->raw).substr(kStringTag.size()));
    }

    bool write_integer(std::string_view name, std::int32_t value) override {
        return put(name,
                   std::string(kDwordTag) + std::to_string(static_cast<std::uint32_t>(value)));
    }

    bool write_string(std::string_view name, std::string_view value) override {
        return put(name, std::string(kStringTag) + escape(value));
    }

  private:
    const Entry* find(std::string_view name) const {
        const auto it = entries_.find(ascii_lower(name));
        return it == entries_.end() ? nullptr : &it->second;
    }

    bool put(std::string_view name, std::string raw) {
        entries_[ascii_lower(name)] = Entry{std::string(name), std::move(raw)};
        return save();
    }

    bool save() const {
        std::filesystem::path temp = path_;
        temp += ".new";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            if (!out) {
                return false;
            }
            out << "# Porvex door server settings: NAME=dword:NUMBER or NAME=sz:TEXT\n";
            for (const auto& [key, entry] : entries_) {
                out << entry.name << '=' << entry.raw << '\n';
            }
            out.flush();
            if (!out) {
                return false;
            }
        }
        std::error_code error;
        std::filesystem::rename(temp, path_, error);
        return !error;
    }

    std::filesystem::path path_;
    std::map<std::string, Entry> entries_;
};

}  // namespace

std::unique_ptr<SettingsKey> FileSettingsStore::open() {
    std::error_code error;
    if (!std::filesystem::exists(path_, error)) {
        if (path_.has_parent_path()) {
            std::filesystem::create_directories(path_.parent_path(), error);
        }
        std::ofstream create(path_, std::ios::binary | std::ios::app);
        if (!create) {
            return nullptr;
        }
    }
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        return nullptr;
    }
    std::map<std::string, Entry> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            continue;
        }
        std::string name = line.substr(0, eq);
        std::string key = ascii_lower(name);
        entries[std::move(key)] = Entry{std::move(name), line.substr(eq + 1)};
    }
    return std::make_unique<FileSettingsKey>(path_, std::move(entries));
}

std::filesystem::path default_settings_path() {
    if (const char* explicit_path = std::getenv("PORVEX_SETTINGS");
        explicit_path && *explicit_path) {
        return explicit_path;
    }
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
        return std::filesystem::path(config) / "porvex" / "settings.conf";
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return std::filesystem::path(home) / ".config" / "porvex" / "settings.conf";
    }
    return std::filesystem::path("porvex-settings.conf");
}

}  // namespace porvex
