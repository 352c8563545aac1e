#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/values/refusal.h"
#include "framework/runtime/values/value.h"

namespace shenbao {

class Session;
class Window;

enum class ControlKind { Button, StaticText, EditMask, SingleLineEdit, MultiLineEdit, CheckBox, Form, Selector };
std::string_view to_string(ControlKind kind);

// What a control means beyond its look, so that the server and the browser act on a control
// without knowing its name. The window that builds the control sets it.
struct ControlRole {
  std::string right;    // the right its action needs; empty: none (the window's script refuses)
  std::string refusal;  // what a user without that right is told
  std::string locked;   // why nobody may do it now (an accepted declaration); empty: they may
  std::string audit;    // the audit log's name for its action; empty: not logged
  std::string gesture;  // forms: the window gesture a double-click on a row makes ("add")
  std::string gesture_column;  // ... with this column of the row as its argument
  bool accent = false;  // the window's main action, drawn to stand out
  // forms: a text typed into `initials_column` goes to the window as the gesture
  // `initials_gesture` with the numbers of the units whose names' pinyin initials hold it (the
  // browser has every unit's name; the server has no pinyin): args TEXT COMPANY_NUM...
  std::string initials_gesture;
  std::string initials_column;
};

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
  size_t limit = 0;   // edits: the most characters the text may hold; 0 for no limit
  ControlRole role;

  std::function<void()> clicked;

  // `x`, `y`, `width`, `height`, `visible`, `enabled`, `text`; nothing for an unknown name.
  std::optional<std::string> property(std::string_view name) const;

 private:
  Window* window_;
  ControlKind kind_;
  std::string name_;
};

// A form control (`dw_n`): a data store shown in a window, with the events of a form.
// itemchanged hears of a typed value only once it reads as the column's type and fits it,
// with the text as typed and the value as the column will hold it; it answers 1 to refuse
// the value (the cell keeps its old value and the focus), 0 to accept it.
class FormControl : public Control {
 public:
  FormControl(Window& window, std::string name);

  DataStore& store() { return store_; }
  const DataStore& store() const { return store_; }
  // Loads the definition and binds the session's transaction; runs `constructor`.
  int set_dataobject(std::string_view name);

  std::function<void()> constructor;
  std::function<void(long row, const std::string& column, const std::string& data)> editchanged;
  std::function<int(long row, const std::string& column, const std::string& data, const Value& value)> itemchanged;
  std::function<void(long row)> rowfocuschanged;

  // The user types `text` into a cell and leaves it: editchanged, then the text is read as
  // the column's type (a text that does not read or fit is refused, and no script hears of
  // it), itemchanged, and the value is stored unless refused. Nothing when the value was
  // kept; else why not.
  std::optional<Refusal> type_into(long row, const std::string& column, const std::string& text);
  // Whether the user can type into the cell: the form is not read-only, the column is shown,
  // not protected for the row and not a display-only column. Nothing when he can; else why not.
  std::optional<Refusal> editable(long row, const std::string& column) const;
  // A read-only form shows its rows and lets the user move between them, but takes no entry.
  bool read_only = false;
  // A form of entries that are never saved (a list's filters): what is typed into it is
  // taken as read, so that it never holds unsaved changes.
  bool entries_only = false;
  // An itemchanged script that refuses a value says why here, in the user's words; the
  // refusal of the entry carries it to the field.
  void refuse_entry(std::string why) { entry_refusal_ = std::move(why); }
  // A drop-down column takes only a code of its list (or nothing), a check box only its on
  // and off values; else a refusal that says so.
  std::optional<Refusal> check_choice(int index, const Value& value, const std::string& text);
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
  const FormObject* shown_column(int index) const;
  std::optional<Refusal> below_minimum(int index, const Value& value) const;

  DataStore store_;
  std::string entry_refusal_;
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
  // The sheet came to the front, or the browser, still showing it, asks it to bring what it
  // shows up to date (once a minute).
  virtual void activate() {}
  // A response window (a dialog) opens only modally, from the window that asks it.
  virtual bool is_response() const { return false; }

  // Functions the host or a test may call by name (`call wf_rystate`), from the window's
  // table of functions (define_function). A refusal when the window has no such function or
  // the arguments do not fit it.
  using Function = std::function<Result<Value>(const std::vector<std::string>& args)>;
  Result<Value> call(std::string_view function, const std::vector<std::string>& args);
  void define_function(std::string name, Function function);
  // Window variables a test may read by name (`pkid`, `company_num`, `is_index`).
  virtual std::optional<Value> variable(std::string_view name) const;
  // Gestures of the host that are not a single control event (`add WORKER_CODE`). Nothing
  // when done; a refusal when the window has no such gesture.
  virtual std::optional<Refusal> gesture(std::string_view name, const std::vector<std::string>& args);

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
  // The structure the opener left in the message object, when it is of type Parameter (an
  // s_com, say); nullptr when there is none or it is of another type.
  template <class Parameter>
  const Parameter* parameter() const {
    return std::any_cast<Parameter>(&message_parameter());
  }
  // Workspace size of the window (its inside), in window units.
  int workspace_width() const { return width; }
  int workspace_height() const { return height; }
  // Suspends or resumes repainting (no effect on state; kept for scripts that ask).
  void setredraw(bool) {}

 private:
  const std::any& message_parameter() const;

  Session* session_;
  std::string class_name_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::map<std::string, Function, std::less<>> functions_;
  Control* focus_ = nullptr;
};

}  // namespace shenbao
