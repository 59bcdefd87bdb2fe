#pragma once

#include <optional>
#include <string_view>

namespace orba {

class Operator;
class DatabaseSession;

inline constexpr std::string_view kErrorTitle = "Erro no ORBAPDA     ";

// Shows `description` (after `context` and five blanks and a line break, when
// given), the session's provider error when there is one, and four blanks,
// under "Erro no ORBAPDA     " with the critical icon. Never fails.
void ReportError(Operator& op, const DatabaseSession* session, std::string_view description,
                 std::optional<std::string_view> context = std::nullopt);

}  // namespace orba
