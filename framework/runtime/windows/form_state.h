#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace shenbao {

class DataStore;

// A form's state as the browser draws it (the FORM of the session's state document), in
// three parts, each taken from what it depends on, with their members apart:
// - the definition, how the form looks: "dataobject", "style", "preview", "bands", "columns",
//   "objects" (from the data store's definition alone);
// - the drop-down lists: "lists" (from its lists; laying them out fills a list the first time);
// - the rows [from, from + count): "computed", "row_count", "rows_from", "rows",
//   "current_row", "modified", "current_column".
nlohmann::json form_definition_json(const DataStore& store);
nlohmann::json form_lists_json(DataStore& store);
nlohmann::json form_rows_json(const DataStore& store, long from, long count);
// The three parts in one object; {} for a data store without a definition.
nlohmann::json form_json(DataStore& store, long from, long count);

// A JSON value's compact text, as answers carry it (text that is not UTF-8 is replaced).
std::string compact_text(const nlohmann::json& value);

}  // namespace shenbao
