#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/runtime/data_store.h"
#include "framework/runtime/value.h"

namespace shenbao {

class Session;
class Window;

enum class ControlKind { Button, StaticText, EditMask, SingleLineEdit, CheckBox, Form, Selector };
std::string_view to_string(ControlKind kind);

// A control of a window: position and size in window units, visibility, enabled state and
// text. Its events are plain callbacks that the owning window wires to its virtual event
// functions, so that a descendant window's override runs after calling its ancestor's.
class Control {
 public:
  Control(Window& window, ControlKind kind, std::string name);
  virtual ~Control() = default;

  Window& window() const { return *window_; }
  ControlKind kind() const { return kind_; }
  const std::string& name() const { return name_; }

  int x = 0, y = 0, width = 0, height = 0;
  bool visible = true;
  bool enabled = true;
  std::string text;   // caption of a button or static text; the content of an edit
  std::string mask;   // edit masks: "yyyy-mm-dd"

  std::function<void()> clicked;

  // `x`, `y`, `width`, `height`, `visible`, `enabled`, `text`; nothing for an unknown name.
  std::optional<std::string> property(std::string_view name) const;

 private:
  Window* window_;
  ControlKind kind_;
  std::string name_;
};

// A form control (`dw_n`): a data store shown in a window, with the events of a form.
// itemchanged answers 1 to refuse the typed value (the cell keeps its old value and the
// focus), 0 to accept it.
class FormControl : public Control {
 public:
  FormControl(Window& window, std::string name);

  DataStore& store() { return store_; }
  const DataStore& store() const { return store_; }
  // Loads the definition and binds the session's transaction; runs `constructor`.
  int set_dataobject(std::string_view name);

  std::function<void()> constructor;
  std::function<void(long row, const std::string& column, const std::string& data)> editchanged;
  std::function<int(long row, const std::string& column, const std::string& data)> itemchanged;
  std::function<void(long row)> rowfocuschanged;

  // The user types `text` into a cell and leaves it: editchanged, itemchanged, then the value
  // is stored unless refused. Answers true when the value was kept; `error` says why not
  // (refused by the script, or not a value of the column's type).
  bool type_into(long row, const std::string& column, const std::string& text, std::string& error);
  // Whether the user can type into the cell: the column is shown, not protected for the row
  // and not a display-only column. The reason when not.
  bool editable(long row, const std::string& column, std::string& why) const;
  // The user types without leaving the cell: editchanged only.
  void filter_in(long row, const std::string& column, const std::string& text);
  // The user clicks a row: it becomes current, and rowfocuschanged tells the window (also
  // when it was current already, made so by a retrieve or a script).
  bool select_row(long row);
  // Scripts: put the cursor on a column of the current row and the focus on this form.
  int setcolumn(std::string_view column);
  void setfocus();

  // Code lists whose narrowing the browser shows: column -> child store.
  bool has_focus() const;

 private:
  DataStore store_;
};

// A window: its class name, title, controls and events. Category windows derive from the
// host's ancestors and override their virtual event functions; each override starts by
// calling the ancestor's. Windows live on their session's UI thread and are never touched
// from another thread.
class Window {
 public:
  Window(Session& session, std::string class_name);
  virtual ~Window();

  Session& session() const { return *session_; }
  const std::string& class_name() const { return class_name_; }
  std::string title;
  int x = 0, y = 0, width = 3200, height = 2000;

  // Events. open runs after construction (with the parameter in the session's message);
  // close_query answers false to keep the window open.
  virtual void open() {}
  virtual bool close_query() { return true; }
  virtual void close() {}
  virtual void resize(int new_width, int new_height) {}
  // A response window (a dialog) opens only modally, from the window that asks it.
  virtual bool is_response() const { return false; }

  // Functions the host or a test may call by name (`call wf_rystate`). Nothing when the
  // window has no such function.
  virtual std::optional<Value> call(std::string_view function, const std::vector<std::string>& args);
  // Window variables a test may read by name (`pkid`, `company_num`, `is_index`).
  virtual std::optional<Value> variable(std::string_view name) const;
  // Gestures of the host that are not a single control event (`add WORKER_CODE`). False when
  // the window has no such gesture.
  virtual bool gesture(std::string_view name, const std::vector<std::string>& args, std::string& error);

  Control* control(std::string_view name) const;
  FormControl* form(std::string_view name) const;
  const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }

  Control& add_control(ControlKind kind, std::string name, std::string text, int x, int y, int width, int height);
  FormControl& add_form(std::string name, int x, int y, int width, int height);

  // The control with the focus (nullptr for none) and, for a form, its column.
  Control* focus() const { return focus_; }
  void set_focus(Control* control) { focus_ = control; }

  // Closes this window (as Close(this)): close_query, close, then it is gone after the
  // current event.
  void close_window();
  // Closes this modal window and hands `result` to its opener (CloseWithReturn).
  void close_with_return(std::string result);
  // The structure the opener left in the message object (an s_com, say); nullptr when none.
  template <class Parameter>
  std::shared_ptr<Parameter> parameter() const {
    return std::static_pointer_cast<Parameter>(message_parameter());
  }
  // Workspace size of the window (its inside), in window units.
  int workspace_width() const { return width; }
  int workspace_height() const { return height; }
  // Suspends or resumes repainting (no effect on state; kept for scripts that ask).
  void setredraw(bool) {}

 private:
  std::shared_ptr<void> message_parameter() const;

  Session* session_;
  std::string class_name_;
  std::vector<std::unique_ptr<Control>> controls_;
  Control* focus_ = nullptr;
};

}  // namespace shenbao
