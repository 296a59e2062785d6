#include "paper.h"
#include "profile_decoder.h"
#include "slave_state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {
// Words as the print engine stores them: (first × 256 + second), little-endian.
struct Words {
    std::vector<uint8_t> bytes;
    Words& w(int first, int second) {
        bytes.push_back(uint8_t(second));
        bytes.push_back(uint8_t(first));
        return *this;
    }
    Words& v(int value) { return w(value >> 8, value & 0xFF); }
};

// A row with dots only in bank 1 (bytes 54..107): one odd clump and one even clump.
Words row_bank1(int rs1, int rs2, uint8_t fill) {
    Words r;
    r.w(60, 0).w(60, 0).w(rs1, rs2);
    r.v(900).v(300).v(240).v(0);
    r.v(0x2);
    for (int i = 0; i < 27; ++i) r.w(fill, fill ^ 0xFF);
    return r;
}

std::vector<uint8_t> block(std::vector<uint8_t> bytes) {
    bytes.resize((bytes.size() + HSS_BLOCK - 1) / HSS_BLOCK * HSS_BLOCK, 0);
    return bytes;
}
}  // namespace

TEST(ProfileDecoder, BlankRowIsThreeWords) {
    Words r;
    r.w(0, 0).w(0, 0).w(20, 0xF0);
    DecodedRow row;
    EXPECT_EQ(decode_row(r.bytes.data(), r.bytes.size(), ProfileLayout::normal, row), 6u);
    EXPECT_EQ(row.rs1, 20);
    EXPECT_TRUE(row.end_code());
    EXPECT_FALSE(row.job_end());
    EXPECT_TRUE(row.burns.empty());
    EXPECT_EQ(row.databank, 0);
    EXPECT_EQ(row.describe(), "rs1=20 rs2=F0 burns=0 heat=- banks=-");
    // Not complete: nothing is taken.
    EXPECT_EQ(decode_row(r.bytes.data(), 5, ProfileLayout::normal, row), 0u);
}

TEST(ProfileDecoder, RowWithBurnsAndBanks) {
    Words r = row_bank1(40, 41, 0xA5);
    DecodedRow row;
    ASSERT_EQ(decode_row(r.bytes.data(), r.bytes.size(), ProfileLayout::normal, row), r.bytes.size());
    EXPECT_EQ(row.odd_widths, std::vector<uint8_t>{60});
    EXPECT_EQ(row.even_widths, std::vector<uint8_t>{60});
    ASSERT_EQ(row.burns.size(), 2u);
    EXPECT_EQ(row.burns[0], std::make_pair(uint16_t(900), uint16_t(300)));
    EXPECT_EQ(row.burns[1], std::make_pair(uint16_t(240), uint16_t(0)));
    EXPECT_EQ(row.databank, 2);
    for (int i = 0; i < 54; ++i) EXPECT_EQ(row.dots[size_t(i)], 0) << i;
    EXPECT_EQ(row.dots[54], 0xA5);
    EXPECT_EQ(row.dots[55], 0x5A);
    EXPECT_EQ(row.dots[107], 0x5A);
    EXPECT_EQ(row.dots[108], 0);
    EXPECT_EQ(row.describe(), "rs1=40 rs2=41 burns=2 heat=900/300,240/0 banks=1");
}

TEST(ProfileDecoder, SecondWidthWordAndFourBurns) {
    // Odd widths 100, 8, 2, 106: a second word because the first one's second byte is not 0;
    // no even clumps: one word (0, 0).
    Words row_bytes;
    row_bytes.w(100, 8).w(2, 106).w(0, 0).w(50, 0xFF);
    for (int j = 0; j < 4; ++j) row_bytes.v(1000 + j).v(0);
    row_bytes.v(0xF);
    for (int i = 0; i < 4 * 27; ++i) row_bytes.w(0xFF, 0x01);
    DecodedRow row;
    ASSERT_EQ(decode_row(row_bytes.bytes.data(), row_bytes.bytes.size(), ProfileLayout::normal, row),
              row_bytes.bytes.size());
    EXPECT_EQ(row.odd_widths, (std::vector<uint8_t>{100, 8, 2, 106}));
    EXPECT_TRUE(row.even_widths.empty());
    EXPECT_EQ(row.burns.size(), 4u);
    EXPECT_TRUE(row.job_end());
    EXPECT_EQ(row.dots[0], 0xFF);
    EXPECT_EQ(row.dots[215], 0x01);
}

TEST(ProfileDecoder, BatteryLayout) {
    Words r;
    // Odd widths in pairs up to one whose second byte is 0: three pairs here.
    r.w(18, 18).w(18, 18).w(36, 0).w(0, 0).w(72, 0xF2);
    for (int j = 0; j < 5; ++j) r.v(500).v(0);
    r.v(0x801);  // banks 0 and 11
    for (int i = 0; i < 9; ++i) r.w(0x80, 0x01);
    for (int i = 0; i < 9; ++i) r.w(0x03, 0xC0);
    DecodedRow row;
    ASSERT_EQ(decode_row(r.bytes.data(), r.bytes.size(), ProfileLayout::battery, row), r.bytes.size());
    EXPECT_EQ(row.odd_widths, (std::vector<uint8_t>{18, 18, 18, 18, 36}));
    EXPECT_EQ(row.burns.size(), 5u);
    EXPECT_EQ(row.databank, 0x801);
    EXPECT_EQ(row.dots[0], 0x80);
    EXPECT_EQ(row.dots[17], 0x01);
    EXPECT_EQ(row.dots[18], 0);
    EXPECT_EQ(row.dots[198], 0x03);
    EXPECT_EQ(row.dots[215], 0xC0);
    EXPECT_EQ(row.describe(), "rs1=72 rs2=F2 burns=5 heat=500/0,500/0,500/0,500/0,500/0 banks=0,11");
}

TEST(ProfileDecoder, StepsAndRowTimes) {
    std::array<int, RAMP_STEPS> steps{};
    for (int i = 0; i < RAMP_STEPS; ++i) steps[size_t(i)] = 2000 - 10 * i;
    DecodedRow r;
    r.rs1 = 20;
    r.rs2 = 21;
    EXPECT_EQ(r.second_step(), 21);
    EXPECT_EQ(r.row_time_us(steps), 1800 + 1790);
    r.rs2 = 0xF0;
    EXPECT_EQ(r.second_step(), 20);
    r.rs2 = 0xF1;
    EXPECT_EQ(r.second_step(), 19);
    r.rs2 = 0xF2;
    EXPECT_EQ(r.second_step(), 21);
    r.rs2 = 0xFF;
    EXPECT_EQ(r.second_step(), 20);
    EXPECT_EQ(r.row_time_us(steps), 3600);
    r.rs1 = 72;
    r.rs2 = 0xF2;
    EXPECT_EQ(r.second_step(), 72);  // never beyond the table
    r.rs1 = 0;
    r.rs2 = 0xF1;
    EXPECT_EQ(r.second_step(), 0);
}

TEST(ProfileStream, RowsAcrossBlocksAndPadding) {
    // Profile 1: 80 rows with dots (more than one block), the last with F0; profile 2: a blank row
    // with FF. Each profile is padded to whole blocks.
    std::vector<uint8_t> p1;
    for (int i = 0; i < 80; ++i) {
        Words r = row_bank1(30, i == 79 ? 0xF0 : 30, uint8_t(i));
        p1.insert(p1.end(), r.bytes.begin(), r.bytes.end());
    }
    ASSERT_GT(p1.size(), HSS_BLOCK);
    p1 = block(p1);
    Words blank;
    blank.w(0, 0).w(0, 0).w(10, 0xFF);
    std::vector<uint8_t> p2 = block(blank.bytes);

    ProfileStream s;
    DecodedRow row;
    s.add_block(p1.data());
    int rows = 0;
    while (s.next_row(row)) {
        EXPECT_EQ(row.dots[54], uint8_t(rows));
        ++rows;
    }
    EXPECT_LT(rows, 80);  // the rest waits for the second block
    EXPECT_TRUE(s.in_profile());
    s.add_block(p1.data() + HSS_BLOCK);
    while (s.next_row(row)) {
        EXPECT_EQ(row.dots[54], uint8_t(rows));
        ++rows;
        if (rows == 80) {
            EXPECT_EQ(row.rs2, 0xF0);
            EXPECT_EQ(row.end_offset, 2 * HSS_BLOCK);  // the rest of the block is padding
        }
    }
    EXPECT_EQ(rows, 80);
    EXPECT_FALSE(s.in_profile());
    EXPECT_TRUE(s.at_profile_start());
    s.add_block(p2.data());
    ASSERT_TRUE(s.next_row(row));
    EXPECT_TRUE(row.job_end());
    EXPECT_EQ(row.rs1, 10);
    EXPECT_FALSE(s.next_row(row));
    EXPECT_EQ(s.blocks_added(), 3u);
}

TEST(ProfileStream, ZeroBlockIsPaddingAndLayoutChangesBetweenProfiles) {
    ProfileStream s;
    std::vector<uint8_t> zeros(HSS_BLOCK, 0);
    s.add_block(zeros.data());
    DecodedRow row;
    EXPECT_FALSE(s.next_row(row));
    EXPECT_FALSE(s.in_profile());

    // A battery profile after a normal one: the layout applies from the next profile's start.
    Words r;
    r.w(18, 0).w(0, 0).w(5, 0xFF).v(700).v(0).v(0x400);
    for (int i = 0; i < 9; ++i) r.w(0x11, 0x22);
    std::vector<uint8_t> b = block(r.bytes);
    s.set_layout(ProfileLayout::battery);
    s.add_block(b.data());
    ASSERT_TRUE(s.next_row(row));
    EXPECT_EQ(row.databank, 0x400);
    EXPECT_EQ(row.dots[180], 0x11);
    EXPECT_EQ(s.layout(), ProfileLayout::battery);

    s.reset();
    EXPECT_TRUE(s.at_profile_start());
    EXPECT_FALSE(s.next_row(row));
}

TEST(SlaveState, SetAndReplies) {
    SlaveState st;
    std::string err;
    EXPECT_TRUE(st.set("status", "00000003", err));
    EXPECT_TRUE(st.set("charge", "15", err));
    EXPECT_TRUE(st.set("thermistor", "0x0825", err));
    EXPECT_TRUE(st.set("version", "2.7.242.9", err));
    EXPECT_TRUE(st.set("headlife", "4278190078", err));
    EXPECT_TRUE(st.set("reply_Z", "0A0B0C0D", err));
    EXPECT_FALSE(st.set("status", "1234567890", err));
    EXPECT_FALSE(st.set("charge", "256", err));
    EXPECT_FALSE(st.set("charge", "12x", err));
    EXPECT_FALSE(st.set("version", "1.2.3", err));
    EXPECT_FALSE(st.set("layout", "sideways", err));
    EXPECT_FALSE(st.set("colour", "blue", err));
    EXPECT_EQ(err, "unknown key colour");
    EXPECT_EQ(st.get("status"), "00000003");
    EXPECT_EQ(st.get("version"), "2.7.242.9");
    EXPECT_EQ(st.get("reply_Z"), "0A0B0C0D");
    EXPECT_EQ(st.get("nothing"), "");

    uint8_t zero[4] = {0, 0, 0, 0};
    SimReply r;
    ASSERT_TRUE(slave_reply(st, 'A', zero, r));
    EXPECT_EQ(r, (SimReply{0, 0, 0, 3}));
    ASSERT_TRUE(slave_reply(st, 'Q', zero, r));
    EXPECT_EQ(r, (SimReply{0x1F, 0x40, 15, 0}));
    ASSERT_TRUE(slave_reply(st, 'T', zero, r));
    EXPECT_EQ(r, (SimReply{0x08, 0x25, 0, 0}));
    ASSERT_TRUE(slave_reply(st, 'D', zero, r));
    EXPECT_EQ(r, (SimReply{2, 7, 242, 9}));
    ASSERT_TRUE(slave_reply(st, 'H', zero, r));
    EXPECT_EQ(r, (SimReply{0xFE, 0xFF, 0xFF, 0xFE}));
    ASSERT_TRUE(slave_reply(st, 'Z', zero, r));
    EXPECT_EQ(r, (SimReply{0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_TRUE(st.set("reply_Z", "", err));
    ASSERT_TRUE(slave_reply(st, 'Z', zero, r));
    EXPECT_EQ(r, (SimReply{0, 0, 0, 0}));
    ASSERT_TRUE(slave_reply(st, 'N', zero, r));
    EXPECT_EQ(r, (SimReply{0xFF, 0xFF, 0, 0}));
    uint8_t label[4] = {3, 0x20, 16, 4};
    EXPECT_FALSE(slave_reply(st, 'N', label, r));
    EXPECT_FALSE(slave_reply(st, 'B', zero, r));
    EXPECT_FALSE(slave_reply(st, 'X', zero, r));
}

TEST(Paper, PbmIsExact) {
    char tmpl[] = "/tmp/paper_test.XXXXXX";
    std::string dir = mkdtemp(tmpl);
    Paper p;
    std::vector<uint8_t> row(Paper::ROW_BYTES, 0);
    row[0] = 0x80;
    row[215] = 0x01;
    p.add_row(row.data());
    row.assign(row.size(), 0xFF);
    p.add_row(row.data());
    ASSERT_TRUE(p.write_pbm(dir + "/p.pbm"));
    ASSERT_TRUE(p.write_png(dir + "/p.png"));
    std::ifstream in(dir + "/p.pbm", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string s = ss.str();
    ASSERT_EQ(s.substr(0, 11), "P4\n1728 2\n\x80");
    ASSERT_EQ(s.size(), 10u + 2 * 216);
    EXPECT_EQ(uint8_t(s[10 + 215]), 0x01);
    EXPECT_EQ(uint8_t(s[10 + 216]), 0xFF);
    std::ifstream png(dir + "/p.png", std::ios::binary);
    char magic[4] = {};
    png.read(magic, 4);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
    p.clear();
    ASSERT_TRUE(p.write_pbm(dir + "/p.pbm"));
    ASSERT_TRUE(p.write_png(dir + "/p.png"));
    EXPECT_NE(access((dir + "/p.png").c_str(), F_OK), 0);
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}
