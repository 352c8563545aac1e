#pragma once

#include <string>
#include <string_view>

namespace shenbao {

// The steps of a declaration's life as its history (the table sb_history, written by the
// declaration gate) records them: the code in its `step` column and the words a list shows.
enum class DeclarationStep { Created, Saved, Submitted, Withdrawn, Returned, Resubmitted, Accepted, Deleted, Reversed };

std::string_view step_code(DeclarationStep step);
std::string_view step_words(DeclarationStep step);

// An SQL expression giving the words of the step code in `column`, for a list.
std::string step_words_sql(std::string_view column);

}  // namespace shenbao
