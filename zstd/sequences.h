// The sequences section of a compressed block (RFC 8878, 3.1.1.3.2): the
// three FSE tables of literal lengths, offsets and match lengths, read or
// repeated, and the sequences decoded from their backward bit stream and
// carried out at once: literals copied from the block's literals, matches
// from the history.
//
// The history lies in the decompressor's buffer as one or two segments:
// the current one, from `segment` to `out`, and the one before, which ends
// at `previous_end` and still holds the window's older bytes after the
// buffer started over (`previous_size` 0 when there is none).
#pragma once

#include <cstddef>
#include <cstdint>

#include "zstd/bit_reader.h"
#include "zstd/fse_table.h"

namespace algorithm::zstd {

struct history {
    std::uint8_t* out;      // where the next byte goes
    std::uint8_t* out_end;  // the block's limit; `copy_slack` writable bytes follow
    std::uint8_t* segment;  // the first byte of the current segment
    const std::uint8_t* previous_end;
    std::size_t previous_size;
    std::uint32_t window;  // the largest offset allowed
};

class sequences {
public:
    // Copies write up to this many bytes past their end, both in the output
    // and (reading) in the literals.
    static constexpr std::size_t copy_slack = 32;

    // The loop that decodes and carries out the sequences, compiled for any
    // processor and, on x86-64, once more with BMI2's shifts, whose counts
    // come from any register (the bit reader shifts by variable counts
    // all the time). The decompressor chooses (loop_choice.cpp).
    enum class fast_loops { portable, bmi2 };
    fast_loops loops = fast_loops::portable;

    // A new frame: no tables to repeat, repeat offsets 1, 4 and 8.
    void reset();
    // Decodes the section [data, data + size) and carries it out with the
    // `literal_count` literals at `literals` (followed by `copy_slack`
    // readable bytes); `to.out` ends after the block's last byte.
    void run(const std::uint8_t* data, std::size_t size, const std::uint8_t* literals, std::size_t literal_count,
             history& to);

private:
    enum class table_kind { none, predefined, other };
    struct coded_table {
        fse_table table;
        table_kind kind = table_kind::none;
    };

    void run_portable(bit_reader& r, std::size_t count, const std::uint8_t* literals, std::size_t literal_count,
                      history& to);
#if defined(__x86_64__)
    [[gnu::target("bmi2")]] void run_bmi2(bit_reader& r, std::size_t count, const std::uint8_t* literals,
                                          std::size_t literal_count, history& to);
#endif
    void run_loop(bit_reader& reader, std::size_t count, const std::uint8_t* literals, std::size_t literal_count,
                  history& to);
    std::size_t read_table(coded_table& t, unsigned mode, const std::uint8_t* data, std::size_t size, int which);
    [[noreturn]] static void fail(const char* message);

    coded_table lengths;  // literal lengths
    coded_table offsets;
    coded_table matches;  // match lengths
    std::uint32_t repeats[3] = {1, 4, 8};
};

}  // namespace algorithm::zstd
