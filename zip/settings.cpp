#include "zip/settings.h"

#include "errors/exception.h"
#include "stream/fork_input.h"
#include "stream/safe_input.h"
#include "zip/end_header.h"
#include "zip/name_rules.h"

namespace format::zip {

namespace {

const char* const where = "format::zip::settings";

[[noreturn]] void fail(const std::string& message) { throw format::exception(message, where); }

std::string shown(const std::string& utf8) {
    return "\"" + any::string::from_utf8(utf8).printable(80).to_utf8() + "\"";
}

// A relative path that stays inside the folder it is taken below: no
// empty component (an absolute path or "a//b"), no "..", nothing a
// Windows name would turn into a drive or a device.
io::path inside_path(const std::string& text, const char* key) {
    io::path path(any::string::from_utf8(text), u"/");
    bool good = !text.empty() && !path.empty() && !unsafe_name(path);
    for (const any::string& component : path.components()) good = good && !component.empty();
    if (!good) fail(std::string(key) + " " + shown(text) + " is not a relative path inside its folder");
    return path;
}

void read_destination(settings& chosen, std::string text) {
    static const struct {
        const char* prefix;
        settings::place place;
    } places[] = {{"{temp}", settings::place::temporary}, {"{home}", settings::place::home}};
    chosen.has_destination = true;
    for (const auto& known : places) {
        const std::string prefix = known.prefix;
        if (text.compare(0, prefix.size(), prefix) != 0) continue;
        chosen.destination_place = known.place;
        text.erase(0, prefix.size());
        if (text.empty()) return;
        if (text[0] != '/') fail("destination " + shown(prefix + text) + " needs a \"/\" after " + prefix);
        text.erase(0, 1);
        break;
    }
    if (chosen.destination_place == settings::place::current || !text.empty())
        chosen.destination = inside_path(text, "destination");
}

// "ACCEPT|DECLINE": two words, one line each, short enough for a button.
void read_buttons(settings& chosen, const std::string& text) {
    const std::size_t bar = text.find('|');
    const std::string accept = text.substr(0, bar), decline = bar == std::string::npos ? "" : text.substr(bar + 1);
    if (accept.empty() || decline.empty() || decline.find('|') != std::string::npos)
        fail("buttons " + shown(text) + " is not two words apart by a \"|\"");
    if (accept.size() > settings::longest_button || decline.size() > settings::longest_button)
        fail("buttons " + shown(text) + ": a button's words are longer than 40 bytes");
    chosen.accept_button = accept;
    chosen.decline_button = decline;
}

// The keys a block may give once each; a second one would leave the
// outcome to whichever line comes last (a destination made of two).
const char* const single_keys[] = {"title", "buttons", "destination", "run", "cleanup"};

void read_line(settings& chosen, const std::string& line, std::vector<std::string>& seen) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) fail("line " + shown(line) + " is not key=value");
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    for (const char* single : single_keys) {
        if (key != single) continue;
        for (const std::string& earlier : seen)
            if (earlier == key) fail("key " + shown(key) + " is given twice");
        seen.push_back(key);
    }
    chosen.set(key, value);
}

}  // namespace

settings settings::parse(const std::string& comment) {
    settings chosen;
    std::size_t at = 0;
    bool first = true;
    std::vector<std::string> seen;
    while (at < comment.size()) {
        std::size_t end = comment.find('\n', at);
        if (end == std::string::npos) end = comment.size();
        std::string line = comment.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (first) {
            if (line != marker) return chosen;
            chosen.present = true;
            first = false;
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        read_line(chosen, line, seen);
    }
    chosen.check();
    return chosen;
}

void settings::set(const std::string& key, const std::string& value) {
    present = true;
    if (key == "title") {
        title = value;
    } else if (key == "message") {
        if (!message.empty()) message += '\n';
        message += value;
        if (message.size() > longest_message) fail("the message is longer than 32 KiB");
    } else if (key == "buttons") {
        read_buttons(*this, value);
    } else if (key == "destination") {
        read_destination(*this, value);
    } else if (key == "run") {
        run = inside_path(value, "run");
    } else if (key == "argument") {
        arguments.push_back(value);
    } else if (key == "cleanup") {
        if (value != "yes" && value != "no") fail("cleanup must be yes or no, not " + shown(value));
        cleanup = value == "yes";
    } else {
        fail("unknown key " + shown(key));
    }
}

void settings::check() const {
    if (!arguments.empty() && run.empty()) fail("arguments are given but no program to run");
    if (cleanup && destination_place != place::temporary) fail("cleanup needs a {temp} destination");
    if (cleanup && run.empty()) fail("cleanup needs a program to run");
    if (!accept_button.empty() && message.empty()) fail("buttons need a message");
}

settings settings::of_archive(io::file& file, std::uint64_t begin, std::uint64_t end) {
    io::fork& fork = file.data_fork();
    const std::uint64_t kept = fork.position();
    stream::fork_input input(fork);
    end_header record;
    const stream::size_type found = record.locate(input, begin, end);
    settings chosen;
    if (found != end_header::not_found) {
        input.seek(found);
        stream::safe_input safe(input);
        record.read(safe, true);
        chosen = parse(record.comment);
    }
    fork.seek(kept);
    return chosen;
}

std::string settings::text() const {
    std::string out = std::string(marker) + "\n";
    if (!title.empty()) out += "title=" + title + "\n";
    for (std::size_t at = 0; at <= message.size() && !message.empty();) {
        std::size_t end = message.find('\n', at);
        if (end == std::string::npos) end = message.size();
        out += "message=" + message.substr(at, end - at) + "\n";
        at = end + 1;
    }
    if (!accept_button.empty()) out += "buttons=" + accept_button + "|" + decline_button + "\n";
    if (has_destination) {
        static const char* const prefixes[] = {"", "{temp}", "{home}"};
        std::string text = prefixes[static_cast<int>(destination_place)];
        const std::string below = destination.join().to_utf8();
        if (!below.empty()) text += (text.empty() ? "" : "/") + below;
        out += "destination=" + text + "\n";
    }
    if (!run.empty()) out += "run=" + run.join().to_utf8() + "\n";
    for (const std::string& argument : arguments) out += "argument=" + argument + "\n";
    if (cleanup) out += "cleanup=yes\n";
    return out;
}

}  // namespace format::zip
