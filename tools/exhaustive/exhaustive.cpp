// v2bsp-exhaustive: checks the fast number routes against their references.
//
//   v2bsp-exhaustive [--threads N] [--from HEX] [--to HEX]
//       decodeFloat against hextofloat on the stored hex text, for every bit
//       pattern from --from up to and including --to (default: all 2^32).
//   v2bsp-exhaustive --decoded [--threads N] [--from HEX] [--to HEX]
//       numtext against numtextReference for the decoded value of every pattern.
//   v2bsp-exhaustive --positions [--threads N] [--from HEX] [--to HEX]
//       decodePosition (the whole-level files' single) against the nearest
//       single of decodeFloat's value, clamped to the finite singles.
//   v2bsp-exhaustive --numtext COUNT [--threads N] [--seed S]
//       numtext against numtextReference on COUNT values: random doubles of
//       every magnitude, decoded values, exact ties and doubles next to the
//       midpoints between two 15-digit decimals.
//   v2bsp-exhaustive --shortest [--threads N] [--from HEX] [--to HEX]
//       shortestSingle (the whole-level OBJ's numbers) against std::to_chars
//       for the single of every bit pattern.
//   v2bsp-exhaustive --exact [--threads N] [--from HEX] [--to HEX] [--seed S]
//       the exact routes that stand in for std::to_chars where a library lacks
//       it (mapimage/portable.hpp) against std::to_chars: for every bit
//       pattern, exactShortest of its single and of that single widened to a
//       double, and exactRounded of a mixed double to 1 to 17 digits.
//
// Progress goes to stderr; the result line to stdout. Exit status 0 when
// everything agreed, 1 at the first disagreement (printed), 2 for bad usage.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "mapimage/floatdecode.hpp"
#include "mapimage/mapimage.hpp"
#include "mapimage/numtext.hpp"
#include "mapimage/portable.hpp"
#include "mapimage/shortestsingle.hpp"
#include "reference/floattext.hpp"
#include "reference/hexread.hpp"
#include "reference/numtextref.hpp"
#include "writers/levelmesh.hpp"

namespace {

using v2bsp::kNumTextMax;

enum class Mode { kDecode, kDecodedText, kPositions, kRandomText, kShortest, kExact };

struct Settings {
    Mode mode = Mode::kDecode;
    unsigned threads = 0;
    std::uint64_t from = 0;
    std::uint64_t to = 0xFFFFFFFFULL;
    std::uint64_t count = 0;
    std::uint64_t seed = 1;
};

// Work is handed out in blocks of this many items; progress is counted in blocks.
constexpr std::uint64_t kBlock = 1 << 20;

// What every worker shares: the next block, how many are done, the first failure.
class Run {
public:
    explicit Run(std::uint64_t items) : items_(items), blocks_((items + kBlock - 1) / kBlock) {}

    // The next block [begin, end) of item indices, or false when none is left
    // or a failure has been seen.
    bool take(std::uint64_t& begin, std::uint64_t& end) {
        if (failed_.load()) return false;
        const std::uint64_t block = next_.fetch_add(1);
        if (block >= blocks_) return false;
        begin = block * kBlock;
        end = std::min(items_, begin + kBlock);
        return true;
    }

    void done(std::uint64_t checked) {
        checked_ += checked;
        const std::uint64_t finished = ++finished_;
        const std::uint64_t step = std::max<std::uint64_t>(1, blocks_ / 50);
        if (finished % step == 0 || finished == blocks_) {
            const double seconds = elapsed();
            std::fprintf(stderr, "\r%5.1f%% of %llu in %.0f s", 100.0 * finished / blocks_,
                         static_cast<unsigned long long>(items_), seconds);
            std::fflush(stderr);
        }
    }

    void fail(const std::string& report) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failed_.exchange(true)) report_ = report;
    }

    bool failed() const { return failed_.load(); }
    const std::string& report() const { return report_; }
    std::uint64_t checked() const { return checked_.load(); }
    double elapsed() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

private:
    std::uint64_t items_;
    std::uint64_t blocks_;
    std::atomic<std::uint64_t> next_{0};
    std::atomic<std::uint64_t> finished_{0};
    std::atomic<std::uint64_t> checked_{0};
    std::atomic<bool> failed_{false};
    std::mutex mutex_;
    std::string report_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The stored hex text (file order) of the value-order bits.
std::string storedHex(std::uint32_t bits) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                                   static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
    return v2bsp::bytestohex(bytes);
}

std::string describe(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g (%a)", value, value);
    return text;
}

// Compares the two number texts of `value`; false (and a report) when they differ.
bool sameText(Run& run, double value) {
    char fast[kNumTextMax];
    char reference[kNumTextMax];
    char* fast_end = v2bsp::numtext(fast, value);
    char* reference_end = v2bsp::numtextReference(reference, value);
    if (std::string_view(fast, fast_end - fast) == std::string_view(reference, reference_end - reference)) {
        return true;
    }
    run.fail("numtext of " + describe(value) + " is \"" + std::string(fast, fast_end) + "\", the reference gives \"" +
             std::string(reference, reference_end) + "\"");
    return false;
}

void checkDecode(Run& run, const Settings& s) {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    while (run.take(begin, end)) {
        for (std::uint64_t i = begin; i < end; ++i) {
            const auto bits = static_cast<std::uint32_t>(s.from + i);
            const double direct = v2bsp::decodeFloat(bits);
            const double text = v2bsp::hextofloat(storedHex(bits));
            if (std::bit_cast<std::uint64_t>(direct) != std::bit_cast<std::uint64_t>(text)) {
                run.fail("pattern " + storedHex(bits) + " (stored order): decodeFloat gives " + describe(direct) +
                         ", hextofloat gives " + describe(text));
                return;
            }
        }
        run.done(end - begin);
    }
}

void checkDecodedText(Run& run, const Settings& s) {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    while (run.take(begin, end)) {
        for (std::uint64_t i = begin; i < end; ++i) {
            if (!sameText(run, v2bsp::decodeFloat(static_cast<std::uint32_t>(s.from + i)))) return;
        }
        run.done(end - begin);
    }
}

void checkPositions(Run& run, const Settings& s) {
    constexpr double kLargest = std::numeric_limits<float>::max();
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    while (run.take(begin, end)) {
        for (std::uint64_t i = begin; i < end; ++i) {
            const auto bits = static_cast<std::uint32_t>(s.from + i);
            const double value = v2bsp::decodeFloat(bits);
            const float nearest = value > kLargest    ? std::numeric_limits<float>::max()
                                  : value < -kLargest ? -std::numeric_limits<float>::max()
                                                      : static_cast<float>(value);
            const float got = v2bsp::decodePosition(bits);
            if (std::bit_cast<std::uint32_t>(got) != std::bit_cast<std::uint32_t>(nearest)) {
                char report[160];
                std::snprintf(report, sizeof report, "bits %08X: decodePosition %a, nearest single %a", bits,
                              static_cast<double>(got), static_cast<double>(nearest));
                run.fail(report);
                return;
            }
        }
        run.done(end - begin);
    }
}

void checkShortest(Run& run, const Settings& s) {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    while (run.take(begin, end)) {
        for (std::uint64_t i = begin; i < end; ++i) {
            const auto bits = static_cast<std::uint32_t>(s.from + i);
            const auto value = std::bit_cast<float>(bits);
            char fast[v2bsp::kShortestSingleMax];
            char reference[64];
            const std::string_view got(fast, v2bsp::shortestSingle(fast, value) - fast);
            const std::string_view want(reference,
                                        std::to_chars(reference, reference + sizeof reference, value).ptr - reference);
            if (got != want) {
                char report[160];
                std::snprintf(report, sizeof report, "bits %08X: shortestSingle \"%.*s\", std::to_chars \"%.*s\"", bits,
                              static_cast<int>(got.size()), got.data(), static_cast<int>(want.size()), want.data());
                run.fail(report);
                return;
            }
        }
        run.done(end - begin);
    }
}

// A well-mixed 64-bit value for each (seed, index, salt): splitmix64.
std::uint64_t mix(std::uint64_t seed, std::uint64_t i, std::uint64_t salt) {
    std::uint64_t z = seed * 0x9E3779B97F4A7C15ULL + i * 0xBF58476D1CE4E5B9ULL + salt;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// The i-th value of the mix, the same for any number of threads.
double mixedValue(std::uint64_t seed, std::uint64_t i) {
    const std::uint64_t bits = mix(seed, i, 1);
    const std::uint64_t fifteen = 100'000'000'000'000ULL + bits % 900'000'000'000'000ULL;
    switch (i % 5) {
        case 0: {  // any finite double
            const double value = std::bit_cast<double>(bits);
            return std::isfinite(value) ? value : std::bit_cast<double>(bits >> 12);
        }
        case 1:
            return v2bsp::decodeFloat(static_cast<std::uint32_t>(bits));
        case 2:  // an exact tie: n + 1/2 (below 2^50) or 10 n + 5 (below 2^53), n of 15 digits
            if ((bits >> 63) != 0) return static_cast<double>(fifteen) + 0.5;
            return static_cast<double>((100'000'000'000'000ULL + bits % 800'000'000'000'000ULL) * 10 + 5);
        default: {  // a double beside the midpoint n5 * 10^e, up to two steps either way
            const std::uint64_t more = mix(seed, i, 2);
            const int exponent = static_cast<int>(more % 620) - 320;
            const std::string text = std::to_string(fifteen) + "5e" + std::to_string(exponent);
            double value = std::strtod(text.c_str(), nullptr);
            const int steps = static_cast<int>((more >> 32) % 5) - 2;
            for (int k = 0; k < std::abs(steps); ++k) {
                value = std::nextafter(value, steps < 0 ? 0.0 : HUGE_VAL);
            }
            return value;
        }
    }
}

// Fails the run with both texts when they differ.
bool sameAs(Run& run, const char* route, std::uint64_t bits, std::string_view got, std::string_view want) {
    if (got == want) return true;
    char report[200];
    std::snprintf(report, sizeof report, "bits %llX: %s \"%.*s\", std::to_chars \"%.*s\"",
                  static_cast<unsigned long long>(bits), route, static_cast<int>(got.size()), got.data(),
                  static_cast<int>(want.size()), want.data());
    run.fail(report);
    return false;
}

template <typename Float>
bool sameShortest(Run& run, Float value) {
    char exact[v2bsp::kShortestDoubleMax];
    char reference[64];
    return sameAs(run, "exactShortest", std::bit_cast<std::conditional_t<sizeof(Float) == 4, std::uint32_t, std::uint64_t>>(value),
                  {exact, v2bsp::exactShortest(exact, value)},
                  {reference, std::to_chars(reference, reference + sizeof reference, value).ptr});
}

bool sameRounded(Run& run, double value, int count) {
    const v2bsp::RoundedDecimal rounded = v2bsp::exactRounded(value, count);
    char reference[64];
    const char* end =
        std::to_chars(reference, reference + sizeof reference, value, std::chars_format::scientific, count - 1).ptr;
    // The reference's digits and exponent, as exactRounded gives them.
    std::uint64_t digits = 0;
    const char* p = reference;
    for (; *p != 'e'; ++p) {
        if (*p != '.') digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    const int exponent = std::atoi(std::string(p + 1, end).c_str());
    if (rounded.digits == digits && rounded.exp10 == exponent) return true;
    const std::string got = std::to_string(rounded.digits) + "e" + std::to_string(rounded.exp10);
    return sameAs(run, "exactRounded", std::bit_cast<std::uint64_t>(value), got, {reference, end});
}

void checkExact(Run& run, const Settings& s) {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    while (run.take(begin, end)) {
        for (std::uint64_t i = begin; i < end; ++i) {
            const auto single = std::bit_cast<float>(static_cast<std::uint32_t>(s.from + i));
            if (!sameShortest(run, single)) return;
            if (!std::isnan(single) && !sameShortest(run, static_cast<double>(single))) return;
            const double mixed = std::fabs(mixedValue(s.seed, s.from + i));
            if (mixed != 0 && std::isfinite(mixed) && !sameRounded(run, mixed, static_cast<int>(1 + i % 17))) return;
        }
        run.done(end - begin);
    }
}

void checkRandomText(Run& run, const Settings& s) {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    while (run.take(begin, end)) {
        for (std::uint64_t i = begin; i < end; ++i) {
            if (!sameText(run, mixedValue(s.seed, i))) return;
        }
        run.done(end - begin);
    }
}

bool parseNumber(const char* text, int base, std::uint64_t& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, base);
    return errno == 0 && end != text && *end == '\0';
}

int usage() {
    std::fprintf(stderr,
                 "usage: v2bsp-exhaustive [--decoded|--positions|--shortest|--exact] [--threads N] [--from HEX] [--to HEX]\n"
                 "       v2bsp-exhaustive --numtext COUNT [--threads N] [--seed S]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        std::uint64_t number = 0;
        if (arg == "--decoded") {
            s.mode = Mode::kDecodedText;
        } else if (arg == "--positions") {
            s.mode = Mode::kPositions;
        } else if (arg == "--shortest") {
            s.mode = Mode::kShortest;
        } else if (arg == "--exact") {
            s.mode = Mode::kExact;
        } else if (arg == "--numtext" && has_value && parseNumber(argv[++i], 10, number)) {
            s.mode = Mode::kRandomText;
            s.count = number;
        } else if (arg == "--threads" && has_value && parseNumber(argv[++i], 10, number) && number > 0 &&
                   number <= 256) {
            s.threads = static_cast<unsigned>(number);
        } else if (arg == "--from" && has_value && parseNumber(argv[++i], 16, number) && number <= 0xFFFFFFFFULL) {
            s.from = number;
        } else if (arg == "--to" && has_value && parseNumber(argv[++i], 16, number) && number <= 0xFFFFFFFFULL) {
            s.to = number;
        } else if (arg == "--seed" && has_value && parseNumber(argv[++i], 10, number)) {
            s.seed = number;
        } else {
            return usage();
        }
    }
    if (s.from > s.to) return usage();
    if (s.threads == 0) s.threads = std::max(1U, std::thread::hardware_concurrency());

    const std::uint64_t items = s.mode == Mode::kRandomText ? s.count : s.to - s.from + 1;
    Run run(items);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < s.threads; ++t) {
        workers.emplace_back([&run, &s] {
            switch (s.mode) {
                case Mode::kDecode:
                    checkDecode(run, s);
                    break;
                case Mode::kDecodedText:
                    checkDecodedText(run, s);
                    break;
                case Mode::kPositions:
                    checkPositions(run, s);
                    break;
                case Mode::kRandomText:
                    checkRandomText(run, s);
                    break;
                case Mode::kShortest:
                    checkShortest(run, s);
                    break;
                case Mode::kExact:
                    checkExact(run, s);
                    break;
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    std::fprintf(stderr, "\n");

    const char* what = s.mode == Mode::kDecode        ? "decodeFloat against hextofloat"
                       : s.mode == Mode::kDecodedText ? "numtext of decoded values"
                       : s.mode == Mode::kPositions   ? "decodePosition against the nearest single"
                       : s.mode == Mode::kShortest    ? "shortestSingle against std::to_chars"
                       : s.mode == Mode::kExact       ? "the exact routes against std::to_chars"
                                                      : "numtext of mixed values";
    if (run.failed()) {
        std::printf("MISMATCH (%s): %s\n", what, run.report().c_str());
        return 1;
    }
    std::printf("%s: %llu checked, all equal, in %.1f s on %u threads\n", what,
                static_cast<unsigned long long>(run.checked()), run.elapsed(), s.threads);
    return 0;
}
