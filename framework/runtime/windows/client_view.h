#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>
#include <nlohmann/json.hpp>

#include "framework/runtime/windows/form_state.h"

namespace shenbao {

class DataStore;
class FormControl;

// Operations of state_changes written as text, each a JSON object, separated by commas, into
// `out`. `at` is the text of a path without its closing bracket.
class OpsText {
 public:
  explicit OpsText(std::string& out) : out_(out) {}
  void put(const std::string& at, const std::string& value);
  void cut(const std::string& at, size_t length);
  void remove(const std::string& at);
  // Replaces `removed` elements from `index` of the array at `at` by `inserted`.
  void splice(const std::string& at, size_t index, size_t removed, const std::vector<std::string>& inserted);
  // Operations written by another OpsText, after these.
  void append(const std::string& ops);

 private:
  void add(const std::string& at, const std::string& what);
  std::string& out_;
};

// What the browser holds of a session's state as last taken (UI thread only): the document
// without its forms, and each form control's form in three parts (definition, drop-down
// lists, rows) with the data store revisions each was laid out from, so that a part whose
// data has not changed is neither laid out nor compared again. All is held as JSON text, a
// fraction of the memory of a tree: a part changed is found, and sent, as the members or
// array elements whose texts differ.
struct ClientView {
  using Member = StateMember;
  using Part = StatePart;
  struct Form {
    nlohmann::json path;  // where the form stands in the document
    uint64_t definition = 0;  // the data store's definition_revision()
    uint64_t lists = 0;       // its lists_revision()
    uint64_t rows = 0;        // its revision()
    long rows_from = 1;
    long rows_count = 0;
    bool defined = false;     // taken from a data store with a definition
    Part definition_part, lists_part, rows_part;
    // Lays out again the parts whose data store changed since they were taken, with rows
    // [from, from + count); when the client holds the form at the path whose text is `at`
    // (without its closing bracket), adds the changes of each to `ops`.
    void take(DataStore& store, long from, long count, const std::string* at, std::string& ops);
    // The parts' members in one object, as the document holds the form.
    std::string whole() const;
  };
  // Where each window's text stands in a skeleton: sheets or modals, its index, [begin, end),
  // where its "controls" member begins, and its controls' texts: controls[first_control, ...
  // + control_count), each [begin, end).
  struct WindowText {
    std::string_view list;
    size_t index, begin, end, controls_key, first_control, control_count;
  };
  struct Layout {
    std::vector<WindowText> windows;
    std::vector<std::pair<size_t, size_t>> controls;
    void clear() {
      windows.clear();
      controls.clear();
    }
  };
  std::string skeleton = "null";
  Layout layout;
  // Where the next skeleton is written: kept, so that an event does not allocate it afresh.
  std::string next_skeleton;
  Layout next_layout;
  std::map<const FormControl*, Form> forms;
  std::string frame;  // the frame and its menu as JSON text: they change only with the user

  // The skeleton with every form in its place, as JSON text.
  std::string document() const;
};

}  // namespace shenbao
