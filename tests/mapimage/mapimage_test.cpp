#include "mapimage/mapimage.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reference/hexread.hpp"

namespace v2bsp {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Readers, ValuesInBothByteOrders) {
    struct Case {
        Bytes bytes;
        std::uint32_t little, big;
        const char* hex_little;
        const char* hex_big;
    };
    const Case cases[] = {
        {{0x10, 0x00, 0x00, 0x00}, 16, 268435456, "00000010", "10000000"},
        {{0xFF, 0xFF, 0xFF, 0xFF}, 4294967295u, 4294967295u, "FFFFFFFF", "FFFFFFFF"},
        {{0x00, 0x01, 0x02, 0x03}, 0x03020100, 0x00010203, "03020100", "00010203"},
        {{0x0A, 0x00, 0x00, 0x40}, 0x4000000A, 0x0A000040, "4000000A", "0A000040"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex_big);
        EXPECT_EQ(readu32(c.bytes, 0, true), c.little);
        EXPECT_EQ(readu32(c.bytes, 0, false), c.big);
        EXPECT_EQ(readhex32(c.bytes, 0, true), c.hex_little);
        EXPECT_EQ(readhex32(c.bytes, 0, false), c.hex_big);
        // readu32 is hextonum of readhex32 in either order.
        EXPECT_EQ(hextonum(readhex32(c.bytes, 0, true)), c.little);
        EXPECT_EQ(hextonum(readhex32(c.bytes, 0, false)), c.big);
    }
}

TEST(Readers, FourccKeepsEveryByte) {
    const Bytes scnr = {0x72, 0x6E, 0x63, 0x73};
    EXPECT_EQ(readfourcc(scnr, 0, true), "scnr");
    EXPECT_EQ(readfourcc(scnr, 0, false), "rncs");
    const Bytes with_zero = {0x00, 'a', 0x00, 'b'};
    EXPECT_EQ(readfourcc(with_zero, 0, true), std::string("b\0a\0", 4));
}

TEST(Readers, OutOfRangeNamesOffsetAndLength) {
    const Bytes image(10, 0);
    struct Case {
        std::int64_t offset;
        bool ok;
    };
    const Case cases[] = {{0, true},
                          {6, true},
                          {7, false},
                          {10, false},
                          {-1, false},
                          {-4, false},
                          {INT64_MIN, false},
                          {INT64_MAX - 1, false},
                          {(1LL << 32) + 2, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        if (c.ok) {
            EXPECT_NO_THROW(readu32(image, c.offset, true));
            continue;
        }
        for (auto read : {+[](ByteView i, std::int64_t o) { (void)readu32(i, o, true, "mesh count"); },
                          +[](ByteView i, std::int64_t o) { (void)readhex32(i, o, true, "mesh count"); },
                          +[](ByteView i, std::int64_t o) { (void)readfourcc(i, o, true, "mesh count"); }}) {
            try {
                read(image, c.offset);
                ADD_FAILURE() << "no failure";
            } catch (const MapError& failure) {
                EXPECT_EQ(failure.kind(), MapErrorKind::outside);
                EXPECT_EQ(failure.offset(), c.offset);
                EXPECT_EQ(failure.imageLength(), 10);
                EXPECT_EQ(std::string(failure.what()),
                          "Mesh count at offset " + std::to_string(c.offset) + " lies outside the file (length 10).");
            }
        }
    }
}

TEST(Inside, EmptyRangePastTheEndIsOutside) {
    EXPECT_TRUE(inside(10, 0, 10));
    EXPECT_FALSE(inside(11, 0, 10));
    EXPECT_TRUE(inside(0, 10, 10));
    EXPECT_FALSE(inside(1, 10, 10));
    EXPECT_FALSE(inside(-1, 0, 10));
    EXPECT_FALSE(inside(0, -1, 10));
    EXPECT_FALSE(inside(5, INT64_MAX, 10));
}

TEST(Hextonum, Table) {
    struct Case {
        std::string text;
        double value;
    };
    const Case cases[] = {
        {"1f", 31},
        {"1F", 31},
        {"00000010", 16},
        {"", 0},
        {"12G4", 0},
        {"&H10", 0},
        {" 10", 0},
        {"ffffffff", 4294967295.0},
        {"FFFFFFFFFFFFFF", 72057594037927935.0},
        {std::string(255, '0'), 0},
        {"G" + std::string(255, '1'), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(hextonum(c.text), c.value);
    }
}

TEST(Hextonum, TwoHundredFiftySixDigitsOverflow) {
    EXPECT_THROW(hextonum(std::string(256, '0')), std::overflow_error);
    // The walk from the right overflows before it meets the earlier non-digit.
    EXPECT_THROW(hextonum("G" + std::string(256, 'a')), std::overflow_error);
    EXPECT_NO_THROW(hextonum(std::string(255, 'F')));
}

TEST(BytesToHex, TwoUpperCaseDigitsEach) {
    const Bytes bytes = {0x00, 0x0A, 0xFF, 0x10};
    EXPECT_EQ(bytestohex(bytes), "000AFF10");
    EXPECT_EQ(bytestohex({}), "");
}

}  // namespace
}  // namespace v2bsp
