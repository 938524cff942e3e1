// Archives written at test time by the peer tools (Python's zipfile,
// Info-ZIP zip, 7z, bsdtar), each extracted through the archive reader and
// compared with the tree it was made from: names, contents, folders and
// modification times.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstdlib>
#include <random>
#include <string>

#include "tests/zip/extraction.h"

namespace {

using namespace zip_test;
using tree_type = std::map<std::string, std::string>;

// 2021-06-15 10:20:30 UTC: an even second, so that DOS times hold it exactly.
constexpr std::int64_t source_time = 1623752430;

class real_tools : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shared = new scratch;
        const fs::path src = source();
        std::string text;
        for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + " of a text that compresses well\n";
        std::mt19937 random(42);
        std::string noise(70000, '\0');
        for (char& c : noise) c = static_cast<char>(random());
        write_file(src / "readme.txt", text);
        write_file(src / "empty.txt", "");
        write_file(src / "bin" / "noise.bin", noise);
        write_file(src / "bin" / "zeros.bin", std::string(300000, '\0'));
        write_file(src / "deep" / "a" / "b" / "c.txt", "deep down");
        write_file(src / fs::u8path("caf\xC3\xA9") / fs::u8path("na\xC3\xAFve \xC3\xBC.txt"), "accents");
        write_file(src / fs::u8path("\xCE\xB1\xCE\xB2\xCE\xB3.txt"), "greek");
        fs::create_directories(src / "emptydir");
        for (const auto& item : fs::recursive_directory_iterator(src)) set_time(item.path());
    }
    static void TearDownTestSuite() {
        delete shared;
        shared = nullptr;
    }

    static fs::path source() { return shared->native("src"); }

    static void set_time(const fs::path& path) {
        const struct timeval times[2] = {{source_time, 0}, {source_time, 0}};
        utimes(path.c_str(), times);
    }

    // Runs `command` in the source folder; "$OUT" is the archive's path.
    fs::path make(const std::string& command) {
        const fs::path out = folder.native("out.zip");
        const std::string line =
            "cd '" + source().string() + "' && OUT='" + out.string() + "' && (" + command + ") >/dev/null 2>&1";
        EXPECT_EQ(std::system(line.c_str()), 0) << command;
        return out;
    }

    // Extracts and compares with the source tree, folders' times included.
    void expect_same_tree(const fs::path& archive, std::uint64_t base = 0, const std::string& passphrase = "") {
        const fs::path dest = folder.native("dest");
        const outcome result = extract(archive, dest, base, passphrase);
        ASSERT_EQ(result.failure, "");
        EXPECT_EQ(tree(dest), tree(source()));
        for (const auto& item : fs::recursive_directory_iterator(dest))
            EXPECT_EQ(modified_seconds(item.path()), source_time) << item.path();
        // Writers to a pipe may pad the file after the end record.
        EXPECT_LE(result.position_after, fs::file_size(archive));
        EXPECT_GT(result.position_after, fs::file_size(archive) - 22 - 65535);
    }

    static scratch* shared;
    scratch folder;
};

scratch* real_tools::shared = nullptr;

// Python's zipfile, every folder and file in sorted order; to a pipe it
// cannot seek in, so it writes data descriptors.
const char* const python_writer = R"(
import os, sys, zipfile
mode = {'stored': zipfile.ZIP_STORED, 'deflated': zipfile.ZIP_DEFLATED, 'lzma': zipfile.ZIP_LZMA}[sys.argv[1]]
target = sys.stdout.buffer if sys.argv[2] == '-' else sys.argv[2]
with zipfile.ZipFile(target, 'w', mode) as z:
    for root, dirs, files in os.walk('.'):
        dirs.sort()
        for name in sorted(dirs) + sorted(files):
            z.write(os.path.relpath(os.path.join(root, name), '.'))
)";

TEST_F(real_tools, python_stored) {
    write_file(folder.native("writer.py"), python_writer);
    expect_same_tree(make("python3 '" + (folder.native("writer.py")).string() + "' stored \"$OUT\""));
}

TEST_F(real_tools, python_deflated) {
    write_file(folder.native("writer.py"), python_writer);
    expect_same_tree(make("python3 '" + (folder.native("writer.py")).string() + "' deflated \"$OUT\""));
}

TEST_F(real_tools, python_deflated_to_a_pipe_writes_data_descriptors) {
    write_file(folder.native("writer.py"), python_writer);
    const fs::path archive =
        make("python3 '" + (folder.native("writer.py")).string() + "' deflated - | cat > \"$OUT\"");
    ASSERT_NE(read_file(archive).find("PK\x07\x08"), std::string::npos);
    expect_same_tree(archive);
}

TEST_F(real_tools, info_zip_deflated) { expect_same_tree(make("zip -q -r \"$OUT\" .")); }

TEST_F(real_tools, info_zip_stored) { expect_same_tree(make("zip -q -r -0 \"$OUT\" .")); }

TEST_F(real_tools, info_zip_encrypted) {
    expect_same_tree(make("zip -q -r -P 'pass word' \"$OUT\" ."), 0, "pass word");
}

TEST_F(real_tools, info_zip_encrypted_with_a_wrong_passphrase) {
    const fs::path archive = make("zip -q -r -P right \"$OUT\" .");
    EXPECT_EQ(extract(archive, folder.native("dest"), 0, "wrong").failure,
              "format::zip::encryption_header: bad passphrase: readme.txt");
}

TEST_F(real_tools, info_zip_to_a_pipe_writes_data_descriptors) {
    const fs::path archive = make("zip -q -r - . | cat > \"$OUT\"");
    ASSERT_NE(read_file(archive).find("PK\x07\x08"), std::string::npos);
    expect_same_tree(archive);
}

TEST_F(real_tools, info_zip_encrypted_to_a_pipe) {
    const fs::path archive = make("zip -q -r -P secret - . | cat > \"$OUT\"");
    expect_same_tree(archive, 0, "secret");
}

TEST_F(real_tools, info_zip_with_an_archive_comment) {
    expect_same_tree(make("echo 'a comment with PK in it' | zip -q -r -z \"$OUT\" ."));
}

// A program with the archive appended, as is and with its offsets adjusted
// to the whole file (zip -A).
TEST_F(real_tools, info_zip_behind_a_program_in_both_offset_forms) {
    const fs::path archive = make("zip -q -r \"$OUT\" .");
    const std::string program(4321, 'P');
    const fs::path joined = folder.native("joined.exe");
    write_file(joined, program + read_file(archive));
    expect_same_tree(joined, program.size());
    fs::remove_all(folder.native("dest"));
    const std::string adjust = "zip -q -A '" + joined.string() + "'";
    ASSERT_EQ(std::system(adjust.c_str()), 0);
    ASSERT_NE(read_file(joined), program + read_file(archive));
    expect_same_tree(joined, program.size());
}

TEST_F(real_tools, seven_zip_deflate) { expect_same_tree(make("7z a -tzip -bd \"$OUT\" .")); }

TEST_F(real_tools, seven_zip_stored) { expect_same_tree(make("7z a -tzip -mx=0 -bd \"$OUT\" .")); }

TEST_F(real_tools, seven_zip_zipcrypto) {
    expect_same_tree(make("7z a -tzip -mem=ZipCrypto -psecret -bd \"$OUT\" ."), 0, "secret");
}

TEST_F(real_tools, bsdtar) { expect_same_tree(make("bsdtar --format zip -cf \"$OUT\" .")); }

TEST_F(real_tools, bsdtar_stored) {
    expect_same_tree(make("bsdtar --format zip --options zip:compression=store -cf \"$OUT\" ."));
}

// bsdtar pads what it writes to a pipe to whole blocks of 10240 bytes, so
// zeros follow the end record.
TEST_F(real_tools, bsdtar_to_a_pipe) { expect_same_tree(make("bsdtar --format zip -cf - . | cat > \"$OUT\"")); }

// Zstandard entries (method 93) as no Zip tool here writes them yet: each
// file compressed by the zstd tool into one frame, then laid out in a Zip
// archive of its own; folders stored.
const char* const zstd_writer = R"(
import os, struct, subprocess, sys, zlib
out, central = bytearray(), bytearray()
count = 0
for root, dirs, files in os.walk('.'):
    dirs.sort()
    for name in sorted(dirs) + sorted(files):
        path = os.path.relpath(os.path.join(root, name), '.')
        folder = os.path.isdir(path)
        raw = b'' if folder else open(path, 'rb').read()
        data = raw if folder else subprocess.run(['zstd', '-q', '-19', '-c', path], check=True, capture_output=True).stdout
        method = 0 if folder else 93
        zname = (path + '/' if folder else path).encode()
        when = 1623752430
        extra = struct.pack('<HHBI', 0x5455, 5, 1, when)
        fields = struct.pack('<HHHHHIII', 20 if folder else 63, 0x800, method, 0x5000, 0x52CF, zlib.crc32(raw), len(data), len(raw))
        offset = len(out)
        out += struct.pack('<I', 0x04034B50) + fields + struct.pack('<HH', len(zname), len(extra)) + zname + extra + data
        central += struct.pack('<IH', 0x02014B50, 0x033F) + fields + struct.pack('<HHHHHII', len(zname), len(extra), 0, 0, 0, 0, offset) + zname + extra
        count += 1
directory = len(out)
out += central + struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, count, count, len(central), directory, 0)
open(sys.argv[1], 'wb').write(out)
)";

// Hazard: the methods and encryption that Zip tools write besides Deflate
// and the traditional cipher were refused as unsupported.
TEST_F(real_tools, later_methods_and_aes_encryption_extract_exactly) {
    write_file(folder.native("zstd_writer.py"), zstd_writer);
    write_file(folder.native("writer.py"), python_writer);
    struct maker {
        const char* what;
        std::string command;
        const char* passphrase;
    };
    const maker makers[] = {
        {"7z LZMA", "7z a -tzip -mm=LZMA -bd \"$OUT\" .", ""},
        {"7z LZMA, high", "7z a -tzip -mm=LZMA -mx=9 -bd \"$OUT\" .", ""},
        {"7z Deflate64", "7z a -tzip -mm=Deflate64 -bd \"$OUT\" .", ""},
        {"Python LZMA", "python3 '" + folder.native("writer.py").string() + "' lzma \"$OUT\"", ""},
        {"zstd frames", "python3 '" + folder.native("zstd_writer.py").string() + "' \"$OUT\"", ""},
        {"7z AES-256", "7z a -tzip -mem=AES256 -p'pass word' -bd \"$OUT\" .", "pass word"},
        {"7z AES-128", "7z a -tzip -mem=AES128 -p'pass word' -bd \"$OUT\" .", "pass word"},
        {"7z AES-192 over LZMA", "7z a -tzip -mm=LZMA -mem=AES192 -p'pass word' -bd \"$OUT\" .", "pass word"},
        {"bsdtar AES-128",
         "bsdtar --format zip --options zip:encryption=aes128 --passphrase 'pass word' -cf \"$OUT\" .", "pass word"},
        {"bsdtar AES-256",
         "bsdtar --format zip --options zip:encryption=aes256 --passphrase 'pass word' -cf \"$OUT\" .", "pass word"},
    };
    for (const maker& m : makers) {
        SCOPED_TRACE(m.what);
        expect_same_tree(make(m.command), 0, m.passphrase);
        fs::remove_all(folder.native("dest"));
    }
}

// Hazard: a wrong passphrase, or data changed after it was encrypted, must
// leave nothing behind.
TEST_F(real_tools, aes_entries_check_the_passphrase_and_the_data) {
    const fs::path archive = make("7z a -tzip -mem=AES256 -p'right' -bd \"$OUT\" readme.txt");
    EXPECT_EQ(extract(archive, folder.native("dest"), 0, "wrong").failure,
              "format::zip::aes_cipher: bad passphrase: readme.txt");
    EXPECT_TRUE(tree(folder.native("dest")).empty());
    std::string bytes = read_file(archive);
    bytes[30 + 8 + 11 + 16 + 2 + 100] ^= 1;  // a byte of the encrypted data
    write_file(archive, bytes);
    EXPECT_EQ(extract(archive, folder.native("dest"), 0, "right").failure,
              "format::zip::aes_cipher: authentication code mismatch, data is invalid: readme.txt");
    EXPECT_TRUE(tree(folder.native("dest")).empty());
}

}  // namespace
