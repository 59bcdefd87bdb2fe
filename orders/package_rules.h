#pragma once
// Hotel guest packages: whether a product ordered for a guest is still
// covered by the package of the guest's room (price 0, counted against the
// package's allowance).

#include <cstdint>
#include <map>
#include <string_view>

#include "common/database.h"

namespace orba {

class Clock;
struct GeneralParameters;

// `idlocalass` is the item's associated place (the room; 0 = none), `id_loc`
// and `id_amb` the order's place and its environment, `product_code` the
// item's code in produto. The date of the stay is the business day with the
// clock's time; the weekday and the package windows are the clock's.
// Returns true when the product is covered. A database failure, a product
// code missing from produto (when a package applies), or a Null where a
// number is needed throws DatabaseError.
//
// `memo` (when given) keeps what no order changes (whether an environment
// has associated environments) for the next items of the same order.
struct PackageCoverageMemo {
  std::map<std::int32_t, bool> associated_environment;  // by id_amb
};
bool CheckPackageCoverage(DatabaseSession& db, const GeneralParameters& parameters, const Clock& clock,
                          std::int32_t idlocalass, std::int32_t id_loc, std::int32_t id_amb,
                          std::string_view product_code, PackageCoverageMemo* memo = nullptr);

// The read of whether an environment has associated environments, for a
// caller that sends it with its other reads (DatabaseSession::Queries) and
// keeps its answer in the memo, so that the items need not read it.
DatabaseSession::Statement AssociatedEnvironmentStatement(std::int32_t id_amb);
void RememberAssociatedEnvironment(PackageCoverageMemo& memo, std::int32_t id_amb, const Recordset& rs);

}  // namespace orba
