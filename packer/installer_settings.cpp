#include "packer/installer_settings.h"

#include <algorithm>

#include "errors/exception.h"
#include "packer/input_file.h"
#include "packer/output_file.h"
#include "zip/settings.h"

namespace quillon::pack {

namespace {

// The words of --run: split at blanks; single and double quotes group (a
// backslash takes the next character as it is outside single quotes).
std::vector<std::string> split_words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\\' && quote == '"' && i + 1 < line.size()) {
                word += line[++i];
            } else {
                word += c;
            }
        } else if (c == ' ' || c == '\t') {
            if (in_word) words.push_back(word), word.clear(), in_word = false;
        } else if (c == '\'' || c == '"') {
            quote = c, in_word = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i], in_word = true;
        } else {
            word += c, in_word = true;
        }
    }
    if (quote) throw failure{"--run has an unclosed quote"};
    if (in_word) words.push_back(word);
    return words;
}

std::string read_message_file(const std::string& path) {
    input_file file(path, input_file::kind::stream);
    std::string text;
    std::vector<std::uint8_t> piece(1 << 16);
    while (const std::size_t n = file.read_some(piece.data(), piece.size())) {
        text.append(reinterpret_cast<const char*>(piece.data()), n);
        if (text.size() > format::zip::settings::longest_message) break;
    }
    return text;
}

// One line of the settings, where the option gave a value.
void set_line(format::zip::settings& chosen, const std::string& key, const std::string& value) {
    if (value.empty() && key != "argument") return;
    if (value.find_first_of("\r\n") != std::string::npos) throw failure{"--" + key + " must be one line"};
    chosen.set(key, value);
}

}  // namespace

// The settings comment of an installer, checked as the stub will read it.
std::string installer_comment(const options& o, const std::vector<input_entry>& entries) {
    if (!o.message.empty() && !o.message_file.empty()) throw failure{"give --message or --message-file, not both"};
    std::string message = o.message_file.empty() ? o.message : read_message_file(o.message_file);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    if (message.size() > format::zip::settings::longest_message) throw failure{"the message is longer than 32 KiB"};
    const std::vector<std::string> words = split_words(o.run);
    if (!o.run.empty() && words.empty()) throw failure{"--run names no program"};
    format::zip::settings chosen;
    try {
        chosen.present = true;
        set_line(chosen, "title", o.title);
        for (std::size_t at = 0; !message.empty() && at <= message.size();) {
            std::size_t end = message.find('\n', at);
            if (end == std::string::npos) end = message.size();
            std::string one = message.substr(at, end - at);
            if (!one.empty() && one.back() == '\r') one.pop_back();
            chosen.set("message", one);
            at = end + 1;
        }
        set_line(chosen, "buttons", o.buttons);
        set_line(chosen, "destination", o.destination);
        for (std::size_t i = 0; i < words.size(); ++i) set_line(chosen, i == 0 ? "run" : "argument", words[i]);
        if (o.cleanup) chosen.set("cleanup", "yes");
        chosen.check();
    } catch (const un::exception& e) {
        throw failure{un::display_text(e)};
    }
    if (!chosen.run.empty()) {
        const std::string wanted = chosen.run.join().to_utf8();
        const bool found = std::any_of(entries.begin(), entries.end(), [&](const input_entry& e) {
            return e.kind == entry_kind::file && e.name == wanted;
        });
        if (!found) throw failure{"--run: \"" + wanted + "\" is not a file of what is packed"};
    }
    return chosen.text();
}

void contents_of_the_folder(std::vector<input_entry>& entries) {
    if (entries.empty() || entries.front().kind != entry_kind::folder) return;
    const std::string prefix = entries.front().name;
    entries.erase(entries.begin());
    for (input_entry& e : entries) e.name.erase(0, prefix.size());
}

}  // namespace quillon::pack
