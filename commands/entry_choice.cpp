#include "commands/entry_choice.h"

#include <unordered_map>

#include "text/field_text.h"

namespace respmat {

std::vector<std::string> list_items(const std::string &list) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (std::size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1)
    items.push_back(list.substr(start, comma - start));
  items.push_back(list.substr(start));
  return items;
}

std::optional<Failure> choose_entries(const std::string &option, const std::vector<std::string> &items,
                                      const std::vector<std::string> &names, const std::string &kind,
                                      std::vector<std::int32_t> &chosen) {
  using detail::quoted_field;
  std::unordered_map<std::string, std::int32_t> by_name;
  by_name.reserve(names.size());
  std::unordered_map<std::string, std::int32_t> again;  // a name's second entry, where it has one
  for (std::size_t k = 0; k < names.size(); ++k)
    if (!by_name.emplace(names[k], static_cast<std::int32_t>(k)).second)
      again.emplace(names[k], static_cast<std::int32_t>(k));
  const auto count = static_cast<std::int64_t>(names.size());
  for (const std::string &item : items) {
    if (item.empty()) return usage_failure(option + ": an item of the list is empty");
    const std::optional<std::int64_t> index = detail::read_count(item, INT32_MAX);
    const auto named = by_name.find(item);
    if (named != by_name.end()) {
      if (index && *index < count && *index != named->second)
        return usage_failure(option + ": " + quoted_field(item) + " is the index of " +
                             quoted_field(names[static_cast<std::size_t>(*index)]) + " and the name of " + kind + " " +
                             std::to_string(named->second) + "; give the name of the one meant");
      if (const auto second = again.find(item); second != again.end())
        return usage_failure(option + ": " + quoted_field(item) + " names " + kind + "s " +
                             std::to_string(named->second) + " and " + std::to_string(second->second) +
                             "; give the index of the one meant");
      chosen.push_back(named->second);
    } else if (index) {
      if (*index >= count)
        return usage_failure(option + ": " + quoted_field(item) + " is not below " + std::to_string(count) +
                             ", the number of " + kind + "s");
      chosen.push_back(static_cast<std::int32_t>(*index));
    } else {
      return usage_failure(option + ": " + quoted_field(item) + " is neither an index nor the name of a " + kind);
    }
  }
  return std::nullopt;
}

}  // namespace respmat
