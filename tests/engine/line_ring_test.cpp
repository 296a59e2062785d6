#include "line_ring.h"
#include "pbm_reader.h"

#include "dot_image.h"
#include "engine_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace engine;
using namespace enginetest;

namespace {

// Rows stamped with a running number so that order and content can be checked.
void stamp(uint8_t* row, uint32_t n) {
    std::memset(row, 0, ROW_BYTES);
    std::memcpy(row, &n, 4);
    row[ROW_BYTES - 1] = static_cast<uint8_t>(n * 31);
}
uint32_t stamp_of(const uint8_t* row) {
    uint32_t n;
    std::memcpy(&n, row, 4);
    return n;
}

struct Ring {
    std::vector<uint8_t> storage;
    LineRing ring;
    uint32_t next = 0;
    explicit Ring(int rows) : storage(size_t(rows) * ROW_BYTES), ring(storage.data(), storage.size(), ROW_BYTES) {}
    bool put(int rows) {
        size_t at;
        if (!ring.find_room(size_t(rows) * ROW_BYTES, at)) return false;
        for (int i = 0; i < rows; ++i) stamp(ring.data() + at + size_t(i) * ROW_BYTES, next++);
        ring.commit(at, rows);
        return true;
    }
    std::vector<uint32_t> take(int rows) {
        std::vector<uint8_t> buf(size_t(rows) * ROW_BYTES);
        int got = ring.take(buf.data(), rows);
        std::vector<uint32_t> v;
        for (int i = 0; i < got; ++i) v.push_back(stamp_of(&buf[size_t(i) * ROW_BYTES]));
        return v;
    }
    std::vector<uint32_t> peek(int rows) {
        std::vector<uint8_t> buf(size_t(rows) * ROW_BYTES);
        int got = ring.peek(buf.data(), rows);
        std::vector<uint32_t> v;
        for (int i = 0; i < got; ++i) v.push_back(stamp_of(&buf[size_t(i) * ROW_BYTES]));
        return v;
    }
};

std::vector<uint32_t> seq(uint32_t from, int n) {
    std::vector<uint32_t> v;
    for (int i = 0; i < n; ++i) v.push_back(from + uint32_t(i));
    return v;
}

}  // namespace

TEST(LineRing, TwoImagesAreCutAcrossTheirBoundary) {
    Ring r(MAX_ROWS);
    ASSERT_TRUE(r.put(100));
    ASSERT_TRUE(r.put(100));
    // The block cutter: 40 rows plus 40 look-ahead rows while at least 80 are pending.
    std::vector<int> blocks;
    uint32_t expect = 0;
    while (r.ring.pending_rows() > 0) {
        int pending = r.ring.pending_rows();
        if (pending < 80) {
            auto t = r.take(pending);
            EXPECT_EQ(t, seq(expect, pending));
            expect += uint32_t(pending);
            blocks.push_back(pending);
        } else {
            auto t = r.take(40);
            auto la = r.peek(40);
            EXPECT_EQ(t, seq(expect, 40));
            EXPECT_EQ(la, seq(expect + 40, 40));  // 80..119 spans the boundary at 100
            expect += 40;
            blocks.push_back(40);
        }
    }
    EXPECT_EQ(blocks, (std::vector<int>{40, 40, 40, 40, 40}));
}

TEST(LineRing, ImageWrapsToTheStartOnceTheReaderMovedPastIt) {
    Ring r(1000);
    ASSERT_TRUE(r.put(700));
    EXPECT_EQ(r.take(200), seq(0, 200));
    // 400 rows fit neither before the end (300 left) nor before the reader (200 ahead).
    EXPECT_FALSE(r.put(400));
    EXPECT_EQ(r.take(250), seq(200, 250));
    ASSERT_TRUE(r.put(400));  // the reader is 450 rows in: placed at the start
    EXPECT_EQ(r.ring.write_pos(), size_t(400) * ROW_BYTES);
    EXPECT_EQ(r.ring.last_pbmbuffer_index(), size_t(300) * ROW_BYTES);
    // A block across the wrap: the tail (250 rows) then the start.
    EXPECT_EQ(r.peek(300), seq(450, 300));
    EXPECT_EQ(r.take(260), seq(450, 260));
    EXPECT_EQ(r.ring.read_pos(), size_t(10) * ROW_BYTES);
    EXPECT_EQ(r.take(500), seq(710, 390));
    EXPECT_EQ(r.ring.pending_rows(), 0);
}

TEST(LineRing, ExactTailIsConsumedAndReadingContinuesAtTheStart) {
    Ring r(100);
    ASSERT_TRUE(r.put(60));
    EXPECT_EQ(r.take(50), seq(0, 50));
    ASSERT_TRUE(r.put(40));  // fits before the end exactly
    ASSERT_TRUE(r.put(50));  // wraps: the reader is 50 rows in
    EXPECT_TRUE(r.ring.full());
    EXPECT_EQ(r.take(50), seq(50, 50));  // the whole tail
    EXPECT_EQ(r.ring.read_pos(), 0u);
    EXPECT_EQ(r.take(50), seq(100, 50));
}

TEST(LineRing, AnImageThatFitsNowhereIsPlacedWhenTheRingEmpties) {
    Ring r(MAX_ROWS);
    ASSERT_TRUE(r.put(3000));
    EXPECT_EQ(r.take(2000), seq(0, 2000));
    // 4000 rows: 3496 left before the end, 2000 before the reader.
    EXPECT_FALSE(r.put(4000));
    EXPECT_EQ(r.take(1000), seq(2000, 1000));
    // Empty now: both positions go back to the start and the image fits.
    ASSERT_TRUE(r.put(4000));
    EXPECT_EQ(r.ring.read_pos(), 0u);
    EXPECT_EQ(r.take(4000), seq(3000, 4000));
    // The longest image always fits an empty ring, wherever the positions were.
    ASSERT_TRUE(r.put(123));
    EXPECT_EQ(r.take(123).size(), 123u);
    ASSERT_TRUE(r.put(MAX_ROWS));
    EXPECT_EQ(r.ring.pending_rows(), MAX_ROWS);
    EXPECT_FALSE(r.put(1));
    EXPECT_EQ(r.take(MAX_ROWS), seq(7123, MAX_ROWS));
    size_t at = 0;
    EXPECT_FALSE(r.ring.find_room(size_t(MAX_ROWS + 1) * ROW_BYTES, at));
}

TEST(LineRing, WriterAndReaderThreadsKeepOrder) {
    // A writer thread puts images of many sizes; the reader takes blocks as the cutter does.
    Ring r(997);
    constexpr uint32_t total = 60000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::mt19937 rng(3);
        while (r.next < total) {
            int rows = 1 + int(rng() % 997);
            rows = std::min<int>(rows, int(total - r.next));
            while (!r.put(rows)) std::this_thread::yield();
        }
        done = true;
    });
    uint32_t expect = 0;
    std::vector<uint8_t> buf(80 * ROW_BYTES);
    while (expect < total) {
        int pending = r.ring.pending_rows();
        if (pending == 0) {
            std::this_thread::yield();
            continue;
        }
        int want = pending < 80 ? pending : 40;
        if (pending >= 80) {
            int la = r.ring.peek(buf.data(), 80);
            ASSERT_EQ(la, 80);
            for (int i = 0; i < 80; ++i) ASSERT_EQ(stamp_of(&buf[size_t(i) * ROW_BYTES]), expect + uint32_t(i));
        }
        int got = r.ring.take(buf.data(), want);
        ASSERT_EQ(got, want);
        for (int i = 0; i < got; ++i) {
            const uint8_t* row = &buf[size_t(i) * ROW_BYTES];
            ASSERT_EQ(stamp_of(row), expect);
            ASSERT_EQ(row[ROW_BYTES - 1], static_cast<uint8_t>(expect * 31));
            ++expect;
        }
    }
    writer.join();
    EXPECT_TRUE(done);
}

TEST(LineRing, ClearDropsPendingRowsAndRefusesWorkOfTheOldGeneration) {
    Ring r(1000);
    ASSERT_TRUE(r.put(700));
    EXPECT_EQ(r.take(200), seq(0, 200));
    // The writer found room for the next image, then the ring was cleared (an abort) while it
    // copied: its rows are not committed.
    const uint64_t gen = r.ring.generation();
    size_t at = 0;
    ASSERT_TRUE(r.ring.find_room(size_t(100) * ROW_BYTES, at));
    r.ring.clear();
    EXPECT_FALSE(r.ring.commit(at, 100, gen));
    EXPECT_EQ(r.ring.pending_rows(), 0);
    EXPECT_EQ(r.ring.read_pos(), 0u);
    EXPECT_EQ(r.ring.write_pos(), 0u);
    EXPECT_TRUE(r.take(40).empty());
    // Work of the new generation goes on as usual, the largest image included.
    r.next = 5000;
    ASSERT_TRUE(r.put(1000));
    EXPECT_EQ(r.take(1000), seq(5000, 1000));
    // After a wrap too.
    ASSERT_TRUE(r.put(600));
    EXPECT_EQ(r.take(500), seq(6000, 500));
    ASSERT_TRUE(r.put(450));
    EXPECT_LT(r.ring.write_pos(), r.ring.read_pos());
    r.ring.clear();
    EXPECT_EQ(r.ring.pending_rows(), 0);
    EXPECT_FALSE(r.ring.full());
    ASSERT_TRUE(r.put(1000));
    EXPECT_EQ(r.take(1000).size(), 1000u);
}

TEST(PbmReader, HeightsCutsAndWidths) {
    TempDir d;
    auto rows = label_rows(3000, 9);
    std::string a = d.path + "/a.pbm";
    ASSERT_TRUE(write_dot_image_file(a, 1728, 3000, rows.data(), true));
    EXPECT_EQ(get_pbm_file_lines(a, 0, 0, false), 3000);
    EXPECT_EQ(get_pbm_file_lines(a, 2, 0, false), 2240);  // cut sheets
    std::vector<uint8_t> dst(size_t(3000) * ROW_BYTES);
    EXPECT_EQ(read_pbm_file(dst.data(), a, 3000, 0), 3000);
    EXPECT_EQ(dst, rows);

    // Plain header form.
    std::string b = d.path + "/b.pbm";
    ASSERT_TRUE(write_dot_image_file(b, 1728, 100, rows.data(), false));
    EXPECT_EQ(get_pbm_file_lines(b, 0, 0, false), 100);

    // A raster shorter than its header says: only the rows that are there.
    std::string c = d.path + "/c.pbm";
    FILE* f = std::fopen(c.c_str(), "wb");
    std::fputs("P4\n1728 00050\n", f);
    std::fwrite(rows.data(), 1, 10 * ROW_BYTES + 100, f);
    std::fclose(f);
    EXPECT_EQ(get_pbm_file_lines(c, 0, 0, false), 10);

    // A narrower image sits at the left with blank dots after it.
    std::vector<uint8_t> narrow(5 * 100, 0xFF);
    std::string n = d.path + "/n.pbm";
    ASSERT_TRUE(write_dot_image_file(n, 800, 5, narrow.data(), false));
    ASSERT_EQ(get_pbm_file_lines(n, 0, 0, false), 5);
    std::vector<uint8_t> out(5 * ROW_BYTES, 0x77);
    EXPECT_EQ(read_pbm_file(out.data(), n, 5, 0), 5);
    for (int r = 0; r < 5; ++r)
        for (int i = 0; i < ROW_BYTES; ++i) ASSERT_EQ(out[size_t(r) * ROW_BYTES + i], i < 100 ? 0xFF : 0) << r << " " << i;

    // Missing file and a file that is not a dot image.
    EXPECT_EQ(get_pbm_file_lines(d.path + "/none.pbm", 0, 0, false), 0);
    std::string t = d.path + "/t.pbm";
    f = std::fopen(t.c_str(), "w");
    std::fputs("hello\n", f);
    std::fclose(f);
    EXPECT_EQ(get_pbm_file_lines(t, 0, 0, false), 0);
}
