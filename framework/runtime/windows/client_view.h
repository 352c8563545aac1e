#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>

namespace shenbao {

class FormControl;

// What the browser holds of a session's state as last taken (UI thread only): the document
// without its forms, and each form control's form in three parts (definition, drop-down
// lists, rows) with the data store revisions each was laid out from, so that a part whose
// data has not changed is neither laid out nor compared again.
struct ClientView {
  struct Form {
    nlohmann::json path;  // where the form stands in the document
    uint64_t definition = 0;  // the data store's definition_revision()
    uint64_t lists = 0;       // its lists_revision()
    uint64_t rows = 0;        // its revision()
    long rows_from = 1;
    long rows_count = 0;
    nlohmann::json definition_part = nlohmann::json::object();
    nlohmann::json lists_part = nlohmann::json::object();
    nlohmann::json rows_part = nlohmann::json::object();
    // The parts' members in one object, as the document holds the form.
    nlohmann::json whole() const;
  };
  nlohmann::json skeleton;
  std::map<const FormControl*, Form> forms;
  nlohmann::json frame;  // the frame and its menu: they change only with the user

  // The skeleton with every form in its place.
  nlohmann::json document() const;
};

}  // namespace shenbao
