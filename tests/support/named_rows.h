// Table-driven tests: every row has a unique `name`, used for the test's name and its printout.
#pragma once

#include <ostream>
#include <string>

namespace dittix::test_support {

template <class Row>
requires requires(const Row& r) {
    r.name;
}
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

inline constexpr auto rowName = [](const auto& info) { return std::string(info.param.name); };

}  // namespace dittix::test_support
