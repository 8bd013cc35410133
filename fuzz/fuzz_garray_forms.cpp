// The full and short serialized forms on arbitrary bytes, through every reader: the
// bounded unpackers, the stream readers on a file, a memory stream and a pipe, and
// the short-form loader. They must agree on whether the bytes hold a form and on
// the record it gives; a loaded record must hold its elements, accept growth and
// pack back into a form that unpacks to the same record.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "respmat/garray.h"
#include "fuzz_test_support.h"

using respmat::fuzz::check;

namespace {

bool same_record(const GrowArray &a, const GrowArray &b) {
  if ((a.data == nullptr) != (b.data == nullptr)) return false;
  if (a.data == nullptr) return true;
  return a.count == b.count && a.capacity == b.capacity && a.min_capacity == b.min_capacity &&
         a.elem_size == b.elem_size && std::memcmp(&a.fill_percent, &b.fill_percent, 4) == 0 &&
         (a.count == 0 || a.elem_size == 0 ||
          std::memcmp(a.data, b.data, std::size_t{a.count} * a.elem_size) == 0);
}

GrowArray read_with(bool full, std::FILE *stream) {
  GrowArray ga;
  std::memset(&ga, 0xA5, sizeof ga);  // whatever the caller's record held before
  GrowArray *result = full ? garray_read_full(&ga, stream) : garray_read_short(&ga, stream);
  check(result == nullptr || result == &ga, "a reader returned another record");
  if (result == nullptr) check(ga.data == nullptr && ga.count == 0, "a failed read left a record");
  return ga;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const respmat::fuzz::ScratchFile scratch("forms");
  FuzzedDataProvider in(data, size);
  const bool full = in.ConsumeBool();
  const std::uint32_t pushes = in.ConsumeIntegralInRange<std::uint32_t>(0, 40);
  const std::string text = in.ConsumeRemainingBytesAsString();
  const std::size_t length = text.size();
  std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[length + 1]);
  std::memcpy(bytes.get(), text.data(), length);

  GrowArray unpacked;
  const std::uint8_t *end = nullptr;
  GrowArray *result = full ? garray_unpack_full_bounded(&unpacked, bytes.get(), length, &end)
                           : garray_unpack_short_bounded(&unpacked, bytes.get(), length, &end);
  if (result == nullptr) {
    check(unpacked.data == nullptr, "a failed unpack left a block");
  } else {
    check(end >= bytes.get() && end <= bytes.get() + length, "the form ends outside its buffer");
    check(unpacked.capacity >= unpacked.count, "capacity below count");
    // A complete form also unpacks without a bound.
    GrowArray again;
    check((full ? garray_unpack_full(&again, bytes.get(), nullptr)
                : garray_unpack_short(&again, bytes.get(), nullptr)) != nullptr &&
              same_record(again, unpacked),
          "the unbounded unpacker disagrees");
    garray_release(&again);
  }

  const char *path = scratch.write(text);
  std::FILE *file = std::fopen(path, "rb");
  check(file != nullptr, "cannot reopen the scratch file");
  GrowArray from_file = read_with(full, file);
  if (from_file.data != nullptr)
    check(std::ftell(file) == end - bytes.get(), "the stream is not left just past the form");
  std::fclose(file);
  check(same_record(from_file, unpacked), "the file reader disagrees with the unpacker");
  garray_release(&from_file);

  if (length != 0) {
    std::FILE *memory = ::fmemopen(bytes.get(), length, "rb");
    check(memory != nullptr, "fmemopen");
    GrowArray from_memory = read_with(full, memory);
    std::fclose(memory);
    check(same_record(from_memory, unpacked), "the memory-stream reader disagrees");
    garray_release(&from_memory);
  }
  if (length <= 60000) {
    int ends[2];
    check(::pipe(ends) == 0, "pipe");
    check(::write(ends[1], bytes.get(), length) == static_cast<ssize_t>(length), "pipe write");
    ::close(ends[1]);
    std::FILE *pipe = ::fdopen(ends[0], "rb");
    GrowArray from_pipe = read_with(full, pipe);
    std::fclose(pipe);
    check(same_record(from_pipe, unpacked), "the pipe reader disagrees");
    garray_release(&from_pipe);
  }
  if (!full) {
    GrowArray loaded;
    garray_load_short(&loaded, path);
    check(same_record(loaded, unpacked), "the loader disagrees");
    garray_release(&loaded);
  }

  if (result != nullptr) {
    // Pack and unpack again, then grow: the record must be whole.
    std::uint32_t packed_length = 0;
    std::uint8_t *packed = full ? garray_pack_full(&unpacked, &packed_length)
                                : garray_pack_short(&unpacked, &packed_length);
    if (packed != nullptr) {
      GrowArray round;
      check((full ? garray_unpack_full_bounded(&round, packed, packed_length, nullptr)
                  : garray_unpack_short_bounded(&round, packed, packed_length, nullptr)) != nullptr,
            "a packed form does not unpack");
      check(round.count == unpacked.count && round.elem_size == unpacked.elem_size &&
                (round.count == 0 || round.elem_size == 0 ||
                 std::memcmp(round.data, unpacked.data, std::size_t{round.count} * round.elem_size) == 0),
            "a packed form unpacks to other elements");
      garray_release(&round);
      std::free(packed);
    }
    if (unpacked.elem_size <= 64 && unpacked.count < (1u << 16)) {
      std::uint8_t element[64];
      std::memset(element, 0x5A, sizeof element);
      for (std::uint32_t i = 0; i < pushes; ++i) {
        const std::uint32_t before = unpacked.count;
        if (garray_push(&unpacked, element) == GARRAY_NPOS) break;
        check(unpacked.count == before + 1 && unpacked.capacity >= unpacked.count, "a push went wrong");
      }
    }
    garray_release(&unpacked);
  }
  return 0;
}
