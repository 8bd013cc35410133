// Monitors or correctors chosen on the command line, each by its 0-based index or by
// its name in the file, as the lists of --exclude-monitors, --exclude-correctors and
// --corrector-monitors give them.
#ifndef RESPMAT_COMMANDS_ENTRY_CHOICE_H
#define RESPMAT_COMMANDS_ENTRY_CHOICE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"

namespace respmat {

// The comma-separated items of an option's list, as written.
[[nodiscard]] std::vector<std::string> list_items(const std::string &list);

// The entry each item names, in order, among the entries called `names` (their
// 0-based indices where the file names none); `kind` says what they are
// ("monitor", "corrector"). Usage failures, naming `option` and the item: an empty item; an index past the entries; a name none has; an item that
// is the index of one entry and the name of another (which of the two is meant
// cannot be told; the failure gives the name of each); a name two entries share. Names are looked up through
// one hash table, so n items among m names take O(n + m).
[[nodiscard]] std::optional<Failure> choose_entries(const std::string &option, const std::vector<std::string> &items,
                                                    const std::vector<std::string> &names, const std::string &kind,
                                                    std::vector<std::int32_t> &chosen);

}  // namespace respmat

#endif
