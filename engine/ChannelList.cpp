#include "ChannelList.h"

#include "MorvexLimits.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace morvex {

namespace {

constexpr int kShortestRange = 3; // "1-2" says no more than "1,2"

void SkipSpaces(const char*& at) {
    while (*at == ' ') {
        ++at;
    }
}

// A channel number from 1 to kMaxChannels.
bool ReadChannel(const char*& at, int& channel) {
    SkipSpaces(at);
    if (std::isdigit(static_cast<unsigned char>(*at)) == 0) {
        return false;
    }
    int value = 0;
    while (std::isdigit(static_cast<unsigned char>(*at)) != 0) {
        value = value * 10 + (*at++ - '0');
        if (value > kMaxChannels) {
            return false;
        }
    }
    SkipSpaces(at);
    channel = value;
    return value >= 1;
}

uint64_t ChannelBit(int channel) {
    return uint64_t{1} << (channel - 1);
}

bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool IsUnsafeInFileName(unsigned char c) {
    return c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr;
}

} // namespace

bool ParseChannelList(const char* text, uint64_t& channels) {
    uint64_t result = 0;
    const char* at = text;
    do {
        int first = 0;
        if (!ReadChannel(at, first)) {
            return false;
        }
        int last = first;
        if (*at == '-') {
            ++at;
            if (!ReadChannel(at, last) || last < first) {
                return false;
            }
        }
        for (int c = first; c <= last; ++c) {
            result |= ChannelBit(c);
        }
    } while (*at++ == ',');
    if (at[-1] != '\0') {
        return false;
    }
    channels = result;
    return true;
}

void FormatChannelList(uint64_t channels, char* text, size_t bytes) {
    size_t used = 0;
    text[0] = '\0';
    for (int c = 1; c <= kMaxChannels && used < bytes; ++c) {
        if ((channels & ChannelBit(c)) == 0) {
            continue;
        }
        int last = c;
        while (last < kMaxChannels && (channels & ChannelBit(last + 1)) != 0) {
            ++last;
        }
        const char* comma = used == 0 ? "" : ",";
        const int length = last - c + 1 >= kShortestRange
                               ? std::snprintf(text + used, bytes - used, "%s%d-%d", comma, c, last)
                               : std::snprintf(text + used, bytes - used, "%s%d", comma, c);
        if (length < 0) {
            return;
        }
        used += static_cast<size_t>(length);
        if (last - c + 1 >= kShortestRange) {
            c = last;
        }
    }
}

uint64_t EffectiveChannels(uint64_t channels, int channelCount) {
    const uint64_t all =
        channelCount >= kMaxChannels ? ~uint64_t{0} : (uint64_t{1} << channelCount) - 1;
    return channels == 0 ? all : channels & all;
}

void SafeFileNamePart(const char* name, char* out, size_t bytes) {
    out[0] = '\0';
    if (bytes == 0) {
        return;
    }
    while (*name == ' ' || *name == '.') {
        ++name;
    }
    size_t length = 0;
    for (; name[length] != '\0' && length + 1 < bytes; ++length) {
        const auto c = static_cast<unsigned char>(name[length]);
        out[length] = IsUnsafeInFileName(c) ? '_' : static_cast<char>(c);
    }
    // Cut where a character begins, never inside one.
    if (name[length] != '\0') {
        while (length > 0 && IsUtf8Continuation(name[length])) {
            --length;
        }
    }
    while (length > 0 && (out[length - 1] == ' ' || out[length - 1] == '.')) {
        --length;
    }
    out[length] = '\0';
}

} // namespace morvex
