#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "respmat/garray.h"
#include "base/malloc_block.h"
#include "container/garray_test_support.h"
#include "test_support.h"

namespace {

using respmat::testing::AllocationLimit;
using respmat::testing::Bytes;
using respmat::testing::contents;
using respmat::testing::contents_of;
using respmat::testing::OwnedArray;
using respmat::testing::OwnedFile;
using respmat::testing::stream_over;
using respmat::testing::TempDir;

const Bytes kFullForm = {0x83, 0x84, 0x81, 0x00, 0x00, 0x70, 0x42, 0x01, 0x00, 0x00,
                         0x00, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00};
const Bytes kShortForm = {0x83, 0x84, 0x01, 0x00, 0x00, 0x00, 0x02,
                          0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00};

using Buffer = respmat::detail::MallocBlock<std::uint8_t>;

// {1, 2, 3} as 4-byte little-endian elements.
void make_one_two_three(OwnedArray &a) {
  garray_init(a.get(), 4);
  garray_append_n(a.get(), "\x01\0\0\0\x02\0\0\0\x03\0\0\0", 3);
}

std::string as_string(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes packed(std::uint8_t *(*pack)(const GrowArray *, std::uint32_t *), const GrowArray *ga) {
  std::uint32_t length = 0;
  Buffer buffer(pack(ga, &length));
  EXPECT_NE(buffer, nullptr);
  return Bytes(buffer.get(), buffer.get() + length);
}

Bytes written(std::size_t (*write)(const GrowArray *, std::FILE *), const GrowArray *ga) {
  OwnedFile file(std::tmpfile());
  EXPECT_EQ(write(ga, file.get()), ga->count);
  const std::string text = contents_of(file.get());
  return Bytes(text.begin(), text.end());
}

TEST(GarrayForms, OneTwoThreeInBothFormsByteForByte) {
  OwnedArray a;
  make_one_two_three(a);
  EXPECT_EQ(written(garray_write_full, a.get()), kFullForm);
  EXPECT_EQ(written(garray_write_short, a.get()), kShortForm);
  AllocationLimit tracked(10);
  EXPECT_EQ(packed(garray_pack_full, a.get()), kFullForm);
  EXPECT_EQ(packed(garray_pack_short, a.get()), kShortForm);
  EXPECT_EQ(tracked.requests(), (std::vector<std::size_t>{31, 22}));
}

TEST(GarrayForms, EmptyArrayHeadersLoadWithCapacityOne) {
  OwnedArray a;
  garray_init(a.get(), 8);
  const Bytes full = {0x80, 0x88, 0x81, 0x00, 0x00, 0x70, 0x42};
  const Bytes brief = {0x80, 0x88};
  EXPECT_EQ(packed(garray_pack_full, a.get()), full);
  EXPECT_EQ(written(garray_write_short, a.get()), brief);
  OwnedArray from_full, from_short;
  ASSERT_NE(garray_unpack_full(from_full.get(), full.data(), nullptr), nullptr);
  auto stream = stream_over(as_string(brief));
  ASSERT_NE(garray_read_short(from_short.get(), stream.get()), nullptr);
  for (const GrowArray *ga : {from_full.get(), from_short.get()}) {
    EXPECT_EQ(ga->count, 0u);
    EXPECT_EQ(ga->capacity, 1u);
    EXPECT_EQ(ga->elem_size, 8u);
  }
}

TEST(GarrayForms, LoadedCapacityFollowsTheForm) {
  OwnedArray four, many, floor, full_many;
  garray_init(four.get(), 1);
  garray_push_copies(four.get(), "x", 4);
  garray_init(many.get(), 1);
  garray_push_copies(many.get(), "y", 200);
  many->min_capacity = 30;
  many->fill_percent = 75.5f;
  // A count of 200 crosses the one-byte limit of the header numbers.
  const Bytes brief = packed(garray_pack_short, many.get());
  EXPECT_EQ(Bytes(brief.begin(), brief.begin() + 3), (Bytes{0x48, 0x81, 0x81}));

  OwnedArray s4, s200;
  garray_unpack_short(s4.get(), packed(garray_pack_short, four.get()).data(), nullptr);
  garray_unpack_short(s200.get(), brief.data(), nullptr);
  EXPECT_EQ(s4->capacity, 5u);
  EXPECT_EQ(s200->capacity, 250u);
  for (const GrowArray *ga : {s4.get(), s200.get()}) {
    EXPECT_EQ(ga->min_capacity, 1u);
    EXPECT_EQ(ga->fill_percent, 60.0f);
  }

  four->min_capacity = 10;
  garray_unpack_full(floor.get(), packed(garray_pack_full, four.get()).data(), nullptr);
  EXPECT_EQ(floor->capacity, 10u);
  garray_unpack_full(full_many.get(), packed(garray_pack_full, many.get()).data(), nullptr);
  EXPECT_EQ(full_many->capacity, 227u);  // floor(200 / 0.8775)
  EXPECT_EQ(full_many->min_capacity, 30u);
  EXPECT_EQ(full_many->fill_percent, 75.5f);
  EXPECT_EQ(contents(full_many.ga), contents(many.ga));
}

TEST(GarrayForms, FormsFollowOneAnotherInABufferAndAStream) {
  OwnedArray a, b;
  make_one_two_three(a);
  garray_init(b.get(), 2);
  garray_push(b.get(), "hi");
  void *alias = nullptr;
  garray_set_alias(a.get(), &alias);
  Bytes buffer = kFullForm;
  const Bytes second = packed(garray_pack_full, b.get());
  buffer.insert(buffer.end(), second.begin(), second.end());

  OwnedArray x, y;
  const std::uint8_t *end = nullptr;
  ASSERT_NE(garray_unpack_full(x.get(), buffer.data(), &end), nullptr);
  EXPECT_EQ(end, buffer.data() + 19);
  ASSERT_NE(garray_unpack_full(y.get(), end, &end), nullptr);
  EXPECT_EQ(end, buffer.data() + buffer.size());
  EXPECT_EQ(contents(x.ga), contents(a.ga));
  EXPECT_EQ(contents(y.ga), contents(b.ga));
  EXPECT_EQ(x->alias_slot, nullptr);

  OwnedFile file(std::tmpfile());
  garray_write_short(a.get(), file.get());
  garray_write_full(b.get(), file.get());
  std::rewind(file.get());
  OwnedArray s, t;
  ASSERT_NE(garray_read_short(s.get(), file.get()), nullptr);
  ASSERT_NE(garray_read_full(t.get(), file.get()), nullptr);
  EXPECT_EQ(contents(s.ga), contents(a.ga));
  EXPECT_EQ(contents(t.ga), contents(b.ga));
  EXPECT_EQ(s->alias_slot, nullptr);
}

TEST(GarrayForms, ShortFormSavesAndLoadsThroughAFile) {
  TempDir dir;
  OwnedArray a, back;
  make_one_two_three(a);
  const std::string path = dir.file("three.bin");
  EXPECT_EQ(garray_save_short(a.get(), path.c_str()), 0);
  EXPECT_EQ(respmat::testing::read_bytes(path), as_string(kShortForm));
  ASSERT_EQ(garray_load_short(back.get(), path.c_str()), back.get());
  EXPECT_EQ(contents(back.ga), contents(a.ga));
  EXPECT_EQ(back->capacity, 3u);
}

// Forms whose loaded block holds more than 16 MiB of spare slots (at the default fill
// level, at fill level 0, and with a min_capacity that the elements justify) were
// written by every writer and refused by every reader.
TEST(GarrayForms, LargeArraysComeBackFromEveryForm) {
  struct Case {
    std::uint32_t count;
    float fill_percent;
    std::uint32_t min_capacity;
  };
  for (const Case c : {Case{67108868, 60.0f, 1}, Case{(1u << 24) + 1, 0.0f, 1},
                       Case{1u << 25, 100.0f, (1u << 25) + (24u << 20)}}) {
    SCOPED_TRACE(testing::Message() << c.count << " at " << c.fill_percent);
    OwnedArray a, unpacked[2], read[2], loaded;
    garray_init_sized(a.get(), 1, c.count, 1);
    std::memset(a->data, 0x5A, c.count);
    a->fill_percent = c.fill_percent;
    a->min_capacity = c.min_capacity;
    for (const bool full : {true, false}) {
      const Bytes form = packed(full ? garray_pack_full : garray_pack_short, a.get());
      (full ? garray_unpack_full : garray_unpack_short)(unpacked[full].get(), form.data(), nullptr);
      OwnedFile file(std::tmpfile());
      (full ? garray_write_full : garray_write_short)(a.get(), file.get());
      std::rewind(file.get());
      (full ? garray_read_full : garray_read_short)(read[full].get(), file.get());
    }
    TempDir dir;
    ASSERT_EQ(garray_save_short(a.get(), dir.file("a.bin").c_str()), 0);
    garray_load_short(loaded.get(), dir.file("a.bin").c_str());
    for (OwnedArray *back : {&unpacked[0], &unpacked[1], &read[0], &read[1], &loaded})
      EXPECT_TRUE(back->ga.data != nullptr && back->ga.count == c.count &&
                  std::memcmp(back->ga.data, a->data, c.count) == 0);
    EXPECT_EQ(unpacked[1]->min_capacity, c.min_capacity);
    EXPECT_EQ(read[1]->min_capacity, c.min_capacity);
  }
}

TEST(GarrayForms, UnopenablePathsAreReported) {
  TempDir dir;
  OwnedArray a, back;
  make_one_two_three(a);
  const std::string missing = dir.file("no/such/dir/file.bin");
  EXPECT_NE(garray_save_short(a.get(), missing.c_str()), 0);
  EXPECT_EQ(garray_load_short(back.get(), missing.c_str()), nullptr);
  EXPECT_EQ(back->data, nullptr);
}

TEST(GarrayForms, RefusedWritesAreReported) {
  TempDir dir;
  OwnedArray a;
  make_one_two_three(a);
  const std::string path = dir.file("read-only");
  respmat::testing::write_bytes(path, "");
  OwnedFile file(std::fopen(path.c_str(), "rb"));
  EXPECT_EQ(garray_write_full(a.get(), file.get()), 0u);
  EXPECT_EQ(garray_write_short(a.get(), file.get()), 0u);
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_NE(garray_save_short(a.get(), "/dev/full"), 0);
  }
}

// Every proper prefix of a form is rejected by the bounded unpacker and the stream
// reader, leaving nothing allocated (the leak checker watches the rest).
TEST(GarrayForms, TruncatedFormsAreRejected) {
  for (const auto &[form, full] : {std::pair{kFullForm, true}, std::pair{kShortForm, false}}) {
    for (std::size_t length = 0; length < form.size(); ++length) {
      SCOPED_TRACE(testing::Message() << (full ? "full " : "short ") << length);
      OwnedArray from_buffer, from_stream;
      const auto unpack = full ? garray_unpack_full_bounded : garray_unpack_short_bounded;
      EXPECT_EQ(unpack(from_buffer.get(), form.data(), length, nullptr), nullptr);
      EXPECT_EQ(from_buffer->data, nullptr);
      auto stream = stream_over(as_string(Bytes(form.begin(), form.begin() + length)));
      const auto read = full ? garray_read_full : garray_read_short;
      EXPECT_EQ(read(from_stream.get(), stream.get()), nullptr);
      EXPECT_EQ(from_stream->data, nullptr);
    }
    OwnedArray whole;
    const std::uint8_t *end = nullptr;
    const auto unpack = full ? garray_unpack_full_bounded : garray_unpack_short_bounded;
    EXPECT_NE(unpack(whole.get(), form.data(), form.size(), &end), nullptr);
    EXPECT_EQ(end, form.data() + form.size());
  }
}

TEST(GarrayForms, MalformedHeadersAreRejected) {
  const Bytes no_final_byte = {0x00, 0x00, 0x00, 0x00, 0x00, 0x81, 0x81};
  const Bytes too_large = {0x00, 0x00, 0x84, 0x00, 0x00, 0x84};  // 65536 x 65536 bytes
  auto full_with_fill = [](float f) {
    std::uint8_t bits[4];
    std::memcpy(bits, &f, 4);
    return Bytes{0x80, 0x81, 0x81, bits[0], bits[1], bits[2], bits[3]};
  };
  for (const Bytes &form : {no_final_byte, too_large}) {
    OwnedArray a, b, c;
    EXPECT_EQ(garray_unpack_short(a.get(), form.data(), nullptr), nullptr);
    EXPECT_EQ(garray_unpack_short_bounded(b.get(), form.data(), form.size(), nullptr), nullptr);
    auto stream = stream_over(as_string(form));
    EXPECT_EQ(garray_read_short(c.get(), stream.get()), nullptr);
  }
  for (const float f : {std::nanf(""), -1.0f, 100.5f, INFINITY}) {
    const Bytes form = full_with_fill(f);
    OwnedArray a, b;
    EXPECT_EQ(garray_unpack_full_bounded(a.get(), form.data(), form.size(), nullptr), nullptr) << f;
    auto stream = stream_over(as_string(form));
    EXPECT_EQ(garray_read_full(b.get(), stream.get()), nullptr) << f;
  }
  for (const float f : {0.0f, 100.0f}) {
    const Bytes form = full_with_fill(f);
    OwnedArray a;
    EXPECT_NE(garray_unpack_full_bounded(a.get(), form.data(), form.size(), nullptr), nullptr);
  }
}

TEST(GarrayForms, ForgedCountsAllocateNothingFromAMeasurableFile) {
  // Claims 2^28 elements of 8 bytes but holds three bytes of them.
  const Bytes forged = {0x00, 0x00, 0x00, 0x00, 0x81, 0x88, 1, 2, 3};
  TempDir dir;
  const std::string path = dir.file("forged.bin");
  respmat::testing::write_bytes(path, as_string(forged));
  AllocationLimit tracked(10);
  OwnedArray a, b;
  EXPECT_EQ(garray_load_short(a.get(), path.c_str()), nullptr);
  EXPECT_EQ(garray_unpack_short_bounded(b.get(), forged.data(), forged.size(), nullptr), nullptr);
  EXPECT_TRUE(tracked.requests().empty());
}

TEST(GarrayForms, AllocationFailureLeavesNothing) {
  OwnedArray a, b, c;
  make_one_two_three(a);
  AllocationLimit none(0);
  std::uint32_t length = 99;
  EXPECT_EQ(garray_pack_full(a.get(), &length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(garray_pack_short(a.get(), &length), nullptr);
  EXPECT_EQ(garray_unpack_full(b.get(), kFullForm.data(), nullptr), nullptr);
  auto stream = stream_over(as_string(kShortForm));
  EXPECT_EQ(garray_read_short(c.get(), stream.get()), nullptr);
  EXPECT_EQ(c->data, nullptr);
}

}  // namespace
