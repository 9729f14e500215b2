// Where an import of a CSV table found its problems: (line, column) pairs
// in the order they are reported.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "core/config/csvtable.h"

namespace qm730 {

using Places = std::vector<std::pair<std::size_t, std::size_t>>;

inline Places places(const ImportResult& result) {
    Places out;
    for (const TableProblem& p : result.problems) out.emplace_back(p.line, p.column);
    return out;
}

}  // namespace qm730
