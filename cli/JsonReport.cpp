#include "JsonReport.h"

#include <cstdio>

namespace morvexcli {

namespace {

constexpr const char* kReplacement = "\\ufffd";
constexpr unsigned char kFirstPrintable = 0x20;

// The length of the UTF-8 sequence starting at `at`, or 0 when it is not a valid one.
size_t Utf8Length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead == 0xE0) {
        low = 0xA0;
    } else if (lead == 0xED) {
        high = 0x9F;
    } else if (lead == 0xF0) {
        low = 0x90;
    } else if (lead == 0xF4) {
        high = 0x8F;
    }
    if (byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

void AppendEscaped(std::string& out, unsigned char c) {
    switch (c) {
    case '"':
        out += "\\\"";
        break;
    case '\\':
        out += "\\\\";
        break;
    case '\n':
        out += "\\n";
        break;
    case '\t':
        out += "\\t";
        break;
    default:
        if (c < kFirstPrintable) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
}

std::string JsonStrings(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i != 0) {
            out += ',';
        }
        out += JsonString(texts[i]);
    }
    return out + "]";
}

std::string JsonFormatObject(const std::optional<JsonFormat>& format) {
    if (!format) {
        return "null";
    }
    return "{\"text\":" + JsonString(format->Text) +
           ",\"channels\":" + std::to_string(format->Channels) +
           ",\"bits\":" + std::to_string(format->Bits) +
           ",\"sample_rate\":" + std::to_string(format->SampleRate) + "}";
}

std::string JsonErrorObject(const std::optional<JsonError>& error) {
    if (!error) {
        return "null";
    }
    return "{\"code\":" + (error->Code ? std::to_string(*error->Code) : "null") +
           ",\"message\":" + JsonString(error->Message) +
           ",\"details\":" + JsonStrings(error->Details) + "}";
}

std::string JsonOptionalString(const std::string& text) {
    return text.empty() ? "null" : JsonString(text);
}

std::string JsonSkipped(const std::optional<std::vector<int>>& skipped) {
    if (!skipped) {
        return "";
    }
    std::string out = ",\"skipped\":[";
    for (size_t i = 0; i < skipped->size(); ++i) {
        out += (i == 0 ? "" : ",") + std::to_string((*skipped)[i]);
    }
    return out + "]";
}

std::string JsonMetadataObject(const std::optional<JsonMetadata>& metadata) {
    if (!metadata) {
        return "";
    }
    std::string tracks = "{";
    for (const auto& [channel, name] : metadata->Tracks) {
        tracks += (tracks.size() == 1 ? "\"" : ",\"") + std::to_string(channel) +
                  "\":" + JsonString(name);
    }
    const std::optional<uint64_t>& time = metadata->TimeReference;
    return ",\"metadata\":{\"time_reference\":" + (time ? std::to_string(*time) : "null") +
           ",\"time\":" + JsonOptionalString(metadata->Time) +
           ",\"originator\":" + JsonOptionalString(metadata->Originator) + ",\"tracks\":" + tracks +
           "}}";
}

} // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            AppendEscaped(out, c);
            ++i;
        } else if (const size_t length = Utf8Length(text, i); length > 0) {
            out.append(text, i, length);
            i += length;
        } else {
            out += kReplacement;
            ++i;
        }
    }
    return out + "\"";
}

std::string JsonLine(const JsonTask& task) {
    return "{\"task\":" + std::to_string(task.Task) + ",\"start\":" + JsonString(task.Start) +
           ",\"inputs\":" + JsonStrings(task.Inputs) +
           ",\"format\":" + JsonFormatObject(task.Format) +
           ",\"frames\":" + (task.Frames ? std::to_string(*task.Frames) : "null") +
           ",\"type\":" + JsonString(task.Type) +
           ",\"output_format\":" + JsonString(task.OutputFormat) +
           ",\"outputs\":" + JsonStrings(task.Outputs) + ",\"state\":" + JsonString(task.State) +
           ",\"warning\":" + JsonOptionalString(task.Warning) +
           ",\"error\":" + JsonErrorObject(task.Error) + JsonSkipped(task.Skipped) +
           JsonMetadataObject(task.Metadata) + "}";
}

} // namespace morvexcli
