#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace shenbao {

class DataStore;

// A part of a form's state as JSON text, member by member: each member's value as text, an
// array's element by element (so that a changed row is found, and sent, as itself).
struct StateMember {
  bool array = false;
  std::vector<std::string> texts;
};
using StatePart = std::map<std::string, StateMember>;

// A form's state as the browser draws it (the FORM of the session's state document), in
// three parts, each taken from what it depends on:
// - the definition, how the form looks: "dataobject", "style", "preview", "bands", "columns",
//   "objects" (from the data store's definition alone);
// - the drop-down lists, the members of its "lists" object: one array of [code, name] per
//   column with a drop-down (laying them out fills a list the first time);
// - the rows [from, from + count): "computed", "row_count", "rows_from", "rows",
//   "current_row", "modified", "current_column".
StatePart form_definition_part(const DataStore& store);
StatePart form_lists_part(DataStore& store);
StatePart form_rows_part(const DataStore& store, long from, long count);
// The JSON array of elements whose texts these are; a member's value as text.
std::string array_text(const std::vector<std::string>& elements);
std::string member_text(const StateMember& member);
// Appends the members of `part` to the text of an open object; the object of its members.
void append_members(std::string& object, const StatePart& part);
std::string members_text(const StatePart& part);
// A form's object from its parts; without lists (nullptr) for a form without a definition.
std::string form_object_text(const StatePart& definition, const StatePart* lists, const StatePart& rows);
// The three parts in one object's text; {} for a data store without a definition.
std::string form_text(DataStore& store, long from, long count);

// A JSON value's compact text, as answers carry it (text that is not UTF-8 is replaced).
std::string compact_text(const nlohmann::json& value);

}  // namespace shenbao
