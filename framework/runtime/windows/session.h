#pragma once

#include <any>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "framework/runtime/reports/print_job.h"
#include "framework/runtime/sql/transaction.h"
#include "framework/runtime/windows/client_view.h"
#include "framework/runtime/windows/window.h"

namespace shenbao {

enum class Icon { None, Information, Question, Exclamation, StopSign };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };

// A box's buttons in order (button 1 first), by the names that answers and the state give them.
std::vector<std::string_view> button_names(Buttons buttons);

// What a message box shows while it waits for an answer.
struct MessageBoxState {
  std::string title;
  std::string text;
  Icon icon = Icon::None;
  Buttons buttons = Buttons::Ok;
  int default_button = 1;  // the button Enter presses, from 1; always one of `buttons`
};

// The message object: the parameter handed to a window being opened, and the result a modal
// window hands back (CloseWithReturn).
struct Message {
  std::string stringparm;
  std::optional<Value> doubleparm;
  std::any powerobjectparm;  // a structure of the application's, read back by its type
};

// Who is logged in, and the rights the application gave him. The runtime gives the rights no
// meaning of its own: a control whose role names a right is refused to a user without it.
struct SessionUser {
  std::string username;
  std::string company_num;  // the user's unit; empty for a user of every unit
  std::vector<std::string> rights;
  bool has_right(std::string_view right) const;
};

// One event from the browser or a scenario file. `kind` is one of open, click, text, type,
// filter, select, gesture, answer, call, close, resize, activate, and the inspections
// describe, value, var, list (answered without changing anything).
struct Event {
  std::string kind;
  std::string target;  // control, window class, function, gesture or button
  long row = 0;
  std::string column;
  std::string text;
  std::vector<std::string> args;
};

struct EventResult {
  std::optional<Refusal> refusal;  // why the event was refused, or its typed value not kept
  std::optional<Value> result;     // a call's result, an inspection's answer
  bool accepted = true;            // for type: the value was kept
  uint64_t id = 0;               // the event's number in its session, from 1
  // The event's script waits for the user (a message box or a modal window); its own
  // outcome comes later, in `resumed` of the event during which it finishes.
  bool pending = false;
  // Earlier pending events that finished during this one, oldest first.
  std::vector<EventResult> resumed = {};

  // The event was done (a typed value may still have been refused: see accepted).
  bool ok() const { return !refusal || (!accepted && refusal->code == RefusalCode::InvalidEntry); }
  // Why it was refused, for logs and test failures; empty when it was done.
  std::string error() const { return refusal ? refusal->describe() : std::string(); }
  static EventResult refused(Refusal why) {
    EventResult r;
    r.refusal = std::move(why);
    r.accepted = false;
    return r;
  }
};

using WindowFactory = std::function<std::unique_ptr<Window>(Session&)>;
struct ClientView;

// The windows a session can open, by class name. Filled once at start-up (app/), then read.
class WindowRegistry {
 public:
  // A window class; with a caption it is in the frame's menu. A window that names a right
  // opens only for a user who holds it (and is in his menu only).
  void add(std::string class_name, WindowFactory factory, std::string menu_caption = {}, std::string right = {});
  std::unique_ptr<Window> create(std::string_view class_name, Session& session) const;
  bool has(std::string_view class_name) const;
  // The right the window needs; empty when none.
  std::string right(std::string_view class_name) const;
  // The menu's windows in order: class name and caption.
  std::vector<std::pair<std::string, std::string>> menu(const SessionUser& user) const;

 private:
  struct Entry {
    std::string class_name;
    WindowFactory factory;
    std::string caption;
    std::string right;
  };
  std::vector<Entry> entries_;
};

// One login's application: its connection, its frame with sheets, modal windows and message
// boxes, and its print jobs.
//
// The loop contract. A session owns one UI thread; every window script runs on it and
// nowhere else. post() queues an event and blocks the caller until the session is quiet:
// the event is done, or a script waits for the user inside message_box() or open_modal().
// Those two run a nested loop on the UI thread that takes further events (the answer, the
// modal window's events) until the box is answered or the window closes, then return to the
// script, which therefore reads as straight-line code. While a message box waits, every
// event but its answer and the inspections is refused. When the session is quiet its state
// (state()) is a consistent JSON document: frame, sheets, modal stack, message box, every
// control and form, print jobs. Scripts must not block except through these two calls.
//
// No transaction is held across a question: a script that asks the user (message_box,
// open_modal) while its connection holds uncommitted writes would make every other session
// wait on the SQLite database for as long as the user reads. That is a programming error: the
// writes are rolled back and the script is stopped with a std::logic_error, which fails the
// event (and the test that posted it). Ask first, then write and commit.
class Session {
 public:
  struct Options {
    std::string database_url;
    SessionUser user;
    const WindowRegistry* registry = nullptr;
    std::string print_folder;            // where print jobs' PDFs go
    std::optional<DateTime> today;       // the session's date; the real date when not set
    std::string frame_class;             // the frame every sheet opens in, and its title
    std::string frame_title;
    // The parameter an `open CLASS ARG...` event hands the window it opens (the application's
    // structure); without it such an event opens the window without a parameter.
    std::function<std::any(const std::vector<std::string>& args)> open_parameter;
    // A short note beside entries of the frame's menu, by window class ("3 件待审核": what
    // waits there for the user). Asked on the UI thread when the session starts, whenever a
    // sheet opens, closes or is brought forward, and when a window calls refresh_menu().
    std::function<std::map<std::string, std::string>(Session& session)> menu_notes;
    // Windows opened as sheets when the session starts (the authority's inbox).
    std::vector<std::string> open_at_start;
    // Where window scripts write the audit log's entries (who and which unit it adds itself).
    std::function<void(const std::string& action, const std::string& detail)> audit;
    // The network address the user works from, for the records that say who did what.
    std::string client_address;
    // The tables the session's connection lets only their one writer write
    // (Transaction::protect_tables); none when not set.
    std::function<bool(std::string_view table)> protected_tables;
    // The tables whose changes the connection's journal records (journal.h); none when not set.
    std::function<bool(std::string_view table)> journaled_tables;
  };
  // Opens the connection and starts the UI thread. `error` says why it could not connect.
  static std::unique_ptr<Session> start(Options options, std::string& error);
  ~Session();

  // From other threads.
  EventResult post(Event event);
  // The result of the last `call` event that has finished, also one that finished only after
  // the message box it raised was answered.
  std::optional<Value> last_call_result() const;
  // Runs `read` on the UI thread at its next quiet moment, after the events queued before it,
  // and returns once it has run. `read` may look at windows, forms and print jobs (to lay out
  // a print preview, to find a finished job's file) but must not change them. False when the
  // session has ended.
  bool read_quietly(const std::function<void()>& read);
  // Gives the session's user other rights (or another unit) from the next event on.
  void change_user(SessionUser user);
  // The whole state, every row of every form, as of the last quiet moment (built on demand,
  // so sessions nobody inspects this way never lay out their long lists in full).
  nlohmann::json state() const;
  std::string state_text() const;

  // The state as the browser holds it, taken again at every quiet moment: a form of more
  // than kWholeRows rows carries "row_count" and only a window of rows ("rows_from", "rows"):
  // around its current row, or the rows the client asked to see (show_rows). Each taking that
  // changes it is a new version, kept with its changes (state_changes operations), so that an
  // answer carries only what changed since the version its client holds.
  static constexpr long kWholeRows = 150;   // a form this long goes out whole
  static constexpr long kWindowRows = 100;  // else this many rows around the current row
  static constexpr long kMaxWindowRows = 400;
  struct ClientChanges {
    uint64_t version = 0;
    std::string changes;  // one JSON array of operations
  };
  // The changes from version `since` to the present version; nullopt when `since` is not one
  // of the recent versions (the client must then take the state whole).
  std::optional<ClientChanges> client_changes(uint64_t since) const;
  struct ClientDocument {
    uint64_t version = 0;
    std::string text;  // the JSON document; "{}" when the session has ended
  };
  // The client state whole, put together on the UI thread at its next quiet moment (after an
  // event that is running).
  ClientDocument client_document();
  // Grows at every quiet moment after an event or read that may have changed something: what
  // is derived from the session's windows (a print preview's pages) is kept per quiet version.
  uint64_t quiet_version() const;
  // The client looks at rows [from, from + count) of form control `control` of the active
  // window: the client state's window of that form shows them (until its current row moves)
  // and is taken again. False when the active window has no such form.
  bool show_rows(const std::string& control, long from, long count);
  // The first row at or after `from` (going round past the end) of form control `control` of
  // the active window whose column `column` shows a text starting with `prefix` (ASCII
  // letters in either case); 0 when none, -1 when there is no such form or column.
  long find_row(const std::string& control, const std::string& column, const std::string& prefix, long from);
  // What export_list wrote: the window and its title, and the number of rows.
  struct ListExport {
    std::string window_class;
    std::string window_title;
    long rows = 0;
    DateTime date;  // the session's date, for the file's name
  };
  // Writes every row of form control `control` of the active window to an .xlsx workbook at
  // `path` (export_sheet): the whole list the session holds, not the client's window of it, so
  // no more than the user may see. The sheet is named after the window's title. A refusal
  // (BadRequest) when the active window has no such form; (Failed) when the file cannot be
  // written.
  Result<ListExport> export_list(const std::string& control, const std::string& path);

  // From window scripts (the UI thread).
  Transaction& sqlca() { return *sqlca_; }
  const SessionUser& user() const { return options_.user; }
  const std::string& client_address() const { return options_.client_address; }
  // Writes an entry of the audit log, when the session has one.
  void audit(const std::string& action, const std::string& detail) const;
  Message message;
  // Shows a message box and waits for its answer: the number of the button pressed, from 1.
  // `default_button` is the one that has the focus, so that Enter presses it; a number the
  // box has no button for means the first. A question whose Yes destroys work passes No (2).
  int message_box(std::string title, std::string text, Icon icon = Icon::Information, Buttons buttons = Buttons::Ok,
                  int default_button = 1);
  // Opens a window modally and returns when it closes; answers message.stringparm as the
  // window left it (empty when it was closed without a result).
  std::string open_modal(std::string_view class_name);
  // Opens a sheet in the frame with the parameter in `message`; it becomes active. A frame
  // holds at most kMaxSheets sheets, so that no user can grow a session without end.
  Window* open_sheet(std::string_view class_name);
  static constexpr size_t kMaxSheets = 20;
  void set_pointer_hourglass(bool busy) { hourglass_ = busy; }
  DateTime today() const;
  // The local date and time; on a session whose date is set, that date with the real time.
  DateTime now() const;
  void set_today(DateTime today) { options_.today = today; }
  PrintJobs& print_jobs() { return *print_jobs_; }
  // A status line shown at the bottom of the frame ("保存成功"). It speaks of the window that
  // said it: shown while that window is in front, and gone once the user acts in another.
  void set_status(std::string text);
  // The top modal window, else the active sheet; nullptr when none.
  Window* active_window() const;
  const std::vector<std::unique_ptr<Window>>& sheets() const { return sheets_; }
  bool is_open(std::string_view class_name) const;
  void request_close(Window& window);
  // The frame's menu (its notes) is put together again at the next quiet moment.
  void refresh_menu();

 private:
  explicit Session(Options options);
  void run();
  void dispatch(const Event& event, EventResult& result);
  void dispatch_event(const Event& event, EventResult& result);
  bool inspect(const Event& event, EventResult& result);
  // Refuses to wait for the user while writes are pending (see the class comment).
  void forbid_pending_writes(std::string_view asking) const;
  struct Queued {
    uint64_t id = 0;
    Event event;
    std::function<void()> read;  // set for read_quietly: runs in place of an event
  };
  // Takes the next event off the queue; while it waits the session is quiet and its state
  // is snapshot.
  Queued next_event();
  void finish_event(uint64_t id, EventResult result);
  void reap_closed();
  // A quiet moment: the client state is taken again.
  void snapshot();
  // Takes the client state again and keeps its changes as a new version when there are any.
  void take_client_version();
  // Writes the state document's text over `text`, with each form control handed to
  // `forms_to` with the text, its control object still open, and the path of its form, and
  // where each window's and control's text stands to `layout` (session_state.cpp).
  using FormsTo = std::function<void(std::string& text, FormControl& form, const nlohmann::json& path)>;
  void write_document(std::string& text, const FormsTo& forms_to, ClientView::Layout* layout = nullptr);
  // The whole state document's text, every row of every form.
  std::string state_document();
  // Takes the client state again and answers the operations that turn the client's previous
  // document into the new one, as a JSON array's members (session_state.cpp).
  std::string take_client_state();
  // Which rows of a long form the client state shows (UI thread).
  std::pair<long, long> client_rows(const FormControl& form);
  // Where a form's window of rows stands in the client state (UI thread only).
  struct RowView {
    long from = 1;
    long count = 0;
    long current = -1;  // the current row when the window was placed
  };
  std::map<const FormControl*, RowView> row_views_;

  Options options_;
  std::unique_ptr<Transaction> sqlca_;
  std::unique_ptr<PrintJobs> print_jobs_;
  std::vector<std::unique_ptr<Window>> sheets_;
  std::vector<std::unique_ptr<Window>> modals_;
  std::vector<Window*> closing_;
  size_t active_sheet_ = 0;
  std::optional<MessageBoxState> box_;
  std::optional<int> box_answer_;
  bool hourglass_ = false;
  std::string status_;
  const Window* status_window_ = nullptr;  // compared, never followed: it may have closed
  uint64_t status_serial_ = 0;             // how many times a status was said

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable quiet_;
  std::mutex post_mutex_;  // one poster at a time
  std::deque<Queued> queue_;
  bool busy_ = false;
  bool stopping_ = false;
  uint64_t posted_ = 0;
  std::map<uint64_t, EventResult> results_;
  std::optional<Value> last_call_result_;
  std::unique_ptr<ClientView> client_view_;  // UI thread only
  // The client state's recent versions with their changes, oldest first; the last is the
  // present. Changes as large as a window's whole state are not kept: a client that needs
  // them takes the state whole, which is no larger.
  struct ClientVersion {
    uint64_t version = 0;
    std::shared_ptr<const std::string> changes;  // a JSON array's members; null when not kept
  };
  std::deque<ClientVersion> client_versions_;
  size_t client_versions_bytes_ = 0;
  static constexpr size_t kKeptVersions = 16;
  static constexpr size_t kKeptVersionBytes = 64 * 1024;
  static constexpr size_t kLargestKeptChanges = 16 * 1024;
  uint64_t state_version_ = 0;  // of the client state
  uint64_t app_version_ = 0;    // of quiet moments
  mutable std::mutex whole_mutex_;  // one build of the whole state at a time
  mutable uint64_t whole_version_ = 0;
  mutable std::shared_ptr<const std::string> whole_text_;
  std::thread thread_;
};

}  // namespace shenbao
