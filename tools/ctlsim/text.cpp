#include "text.h"

#include <cctype>

namespace ctlsim {

std::vector<std::string_view> split_tokens(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
        }
        if (i > start) {
            out.push_back(line.substr(start, i - start));
        }
    }
    return out;
}

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::uint64_t> parse_digits(std::string_view text, unsigned base, std::uint64_t max) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        const int d = hex_digit(c);
        if (d < 0 || static_cast<unsigned>(d) >= base) {
            return std::nullopt;
        }
        if (static_cast<std::uint64_t>(d) > max ||
            value > (max - static_cast<unsigned>(d)) / base) {
            return std::nullopt;
        }
        value = value * base + static_cast<unsigned>(d);
    }
    return value;
}

}  // namespace

std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t max) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return parse_digits(text.substr(2), 16, max);
    }
    return parse_digits(text, 10, max);
}

std::optional<Bytes> parse_hex_bytes(std::string_view text) {
    if (text == "-") {
        return Bytes{};
    }
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    Bytes out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = hex_digit(text[i]);
        const int lo = hex_digit(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return out;
}

std::optional<std::uint32_t> parse_hex_u32(std::string_view text) {
    if (text.size() > 8) {
        return std::nullopt;
    }
    auto v = parse_digits(text, 16, 0xFFFFFFFFULL);
    if (!v) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*v);
}

std::optional<std::chrono::microseconds> parse_duration(std::string_view text) {
    struct Unit {
        std::string_view suffix;
        double micros;
    };
    constexpr Unit kUnits[] = {{"us", 1.0}, {"ms", 1e3}, {"s", 1e6}, {"m", 60e6}};
    double scale = 1e3;
    for (const auto& u : kUnits) {
        if (text.size() > u.suffix.size() && text.ends_with(u.suffix)) {
            const char before = text[text.size() - u.suffix.size() - 1];
            if (std::isdigit(static_cast<unsigned char>(before)) || before == '.') {
                scale = u.micros;
                text.remove_suffix(u.suffix.size());
                break;
            }
        }
    }
    // Integer part and an optional fraction, no sign, no exponent.
    const auto dot = text.find('.');
    const auto whole = parse_digits(text.substr(0, dot), 10, 1'000'000'000);
    if (!whole) {
        return std::nullopt;
    }
    double value = static_cast<double>(*whole);
    if (dot != std::string_view::npos) {
        const auto frac_text = text.substr(dot + 1);
        const auto frac = parse_digits(frac_text, 10, 999'999'999);
        if (!frac || frac_text.size() > 9) {
            return std::nullopt;
        }
        double div = 1;
        for (std::size_t i = 0; i < frac_text.size(); ++i) {
            div *= 10;
        }
        value += static_cast<double>(*frac) / div;
    }
    const double micros = value * scale;
    if (micros > 1e13) {  // about 116 days: more is a typo
        return std::nullopt;
    }
    return std::chrono::microseconds(static_cast<std::int64_t>(micros + 0.5));
}

std::optional<std::uint8_t> parse_readers(std::string_view text) {
    if (text == "all") {
        return 0xFF;
    }
    if (text == "none") {
        return 0x00;
    }
    std::uint8_t mask = 0;
    while (!text.empty()) {
        const auto comma = text.find(',');
        const auto item = text.substr(0, comma);
        const auto v = parse_number(item, 128);
        if (!v || *v == 0 || (*v & (*v - 1)) != 0) {
            return std::nullopt;  // not one of 1, 2, 4 ... 128
        }
        mask = static_cast<std::uint8_t>(mask | *v);
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
        if (text.empty()) {
            return std::nullopt;
        }
    }
    return mask;
}

std::optional<bool> parse_switch(std::string_view text) {
    if (text == "on" || text == "1" || text == "yes" || text == "true") {
        return true;
    }
    if (text == "off" || text == "0" || text == "no" || text == "false") {
        return false;
    }
    return std::nullopt;
}

std::optional<std::string_view> option_value(std::string_view token, std::string_view key) {
    if (token.size() > key.size() && token.starts_with(key) && token[key.size()] == '=') {
        return token.substr(key.size() + 1);
    }
    return std::nullopt;
}

}  // namespace ctlsim
