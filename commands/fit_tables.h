// What every fit writes: the summary's common part, its parameters and the covariance
// their errors come from, as CSV with numbers to 17 significant digits, enough to
// read back the same doubles.
#ifndef RESPMAT_COMMANDS_FIT_TABLES_H
#define RESPMAT_COMMANDS_FIT_TABLES_H

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands/response_fit.h"

namespace respmat {

// The keys every fit's summary has: chi2_reduced, rms_before, rms_after, points,
// iterations, converged and the parameters (kind, name, value, error).
[[nodiscard]] nlohmann::json fit_summary(const ResponseFit &fit);

// kind,name,value,error: a row per parameter, a left-out one's with nan.
[[nodiscard]] std::string parameters_text(const ResponseFit &fit);

// kind:name of each parameter fitted, in the covariance's order.
[[nodiscard]] std::vector<std::string> covariance_names(const ResponseFit &fit);

// The covariance with a header row and a first column of covariance_names(), the
// first cell empty.
[[nodiscard]] std::string covariance_text(const ResponseFit &fit);

}  // namespace respmat

#endif
