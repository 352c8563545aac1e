#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>

namespace shenbao {

class FormControl;

// What the browser holds of a session's state as last taken (UI thread only): the document
// without its forms, and each form control's form with the data store revision and rows it
// was laid out from, so that a form whose data store has not changed is neither laid out nor
// compared again.
struct ClientView {
  struct Form {
    uint64_t revision = 0;  // the data store's shown_revision() after laying it out
    long rows_from = 1;
    long rows_count = 0;
    nlohmann::json path;  // where the form stands in the document
    nlohmann::json form;
  };
  nlohmann::json skeleton;
  std::map<const FormControl*, Form> forms;
  nlohmann::json frame;  // the frame and its menu: they change only with the user

  // The skeleton with every form in its place.
  nlohmann::json document() const;
};

}  // namespace shenbao
