#include "framework/runtime/windows/session.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <ctime>
#include <stdexcept>

#include "framework/runtime/forms/sheet_export.h"
#include "framework/runtime/sql/journal.h"
#include "framework/runtime/values/column_type.h"
#include "framework/runtime/windows/client_view.h"
#include "framework/runtime/windows/form_state.h"

namespace shenbao {

void WindowRegistry::add(std::string class_name, WindowFactory factory, std::string menu_caption, std::string right) {
  entries_.push_back({std::move(class_name), std::move(factory), std::move(menu_caption), std::move(right)});
}

std::string WindowRegistry::right(std::string_view class_name) const {
  for (const auto& entry : entries_) {
    if (entry.class_name == class_name) return entry.right;
  }
  return {};
}

std::unique_ptr<Window> WindowRegistry::create(std::string_view class_name, Session& session) const {
  for (const auto& entry : entries_) {
    if (entry.class_name == class_name) return entry.factory(session);
  }
  return nullptr;
}

bool WindowRegistry::has(std::string_view class_name) const {
  return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.class_name == class_name; });
}

std::vector<std::pair<std::string, std::string>> WindowRegistry::menu(const SessionUser& user) const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& entry : entries_) {
    if (!entry.caption.empty() && (entry.right.empty() || user.has_right(entry.right)))
      out.emplace_back(entry.class_name, entry.caption);
  }
  return out;
}

std::vector<std::string_view> button_names(Buttons buttons) {
  switch (buttons) {
    case Buttons::Ok: return {"ok"};
    case Buttons::OkCancel: return {"ok", "cancel"};
    case Buttons::YesNo: return {"yes", "no"};
    case Buttons::YesNoCancel: return {"yes", "no", "cancel"};
    case Buttons::RetryCancel: return {"retry", "cancel"};
  }
  return {};
}

namespace {

// Thrown out of a nested loop when the session stops, to unwind the script that waits.
struct SessionStopping {};

bool is_control_character(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// Why an edit does not take `text`: a one-line edit takes no control characters, line breaks
// included; a multi-line edit takes line breaks and tabs but no other; neither takes more
// characters than its limit.
std::optional<Refusal> edit_refusal(const Control& control, const std::string& text) {
  const bool multi_line = control.kind() == ControlKind::MultiLineEdit;
  const bool refused = std::any_of(text.begin(), text.end(), [&](char c) {
    return is_control_character(c) && !(multi_line && (c == '\n' || c == '\r' || c == '\t'));
  });
  if (refused)
    return Refusal::for_user(RefusalCode::InvalidEntry, "输入的内容含有不允许的控制字符",
                             "control character in the text of " + control.name());
  if (control.limit > 0 && utf8_length(text) > control.limit)
    return Refusal::for_user(RefusalCode::InvalidEntry, "最多可输入" + std::to_string(control.limit) + "个字",
                             "text of " + control.name() + " too long");
  // A date mask takes a date or nothing: "2009-13-45" is refused where it was typed.
  if (control.kind() == ControlKind::EditMask && control.mask == "yyyy-mm-dd") {
    const size_t first = text.find_first_not_of(' ');
    if (first != std::string::npos) {
      const std::string trimmed = text.substr(first, text.find_last_not_of(' ') - first + 1);
      if (!DateTime::parse(trimmed))
        return Refusal::for_user(RefusalCode::InvalidEntry, "“" + trimmed + "”不是日期（yyyy-mm-dd）",
                                 "\"" + trimmed + "\" in " + control.name() + " is not a date");
    }
  }
  return std::nullopt;
}

// The text as the edit keeps it: line breaks as "\n", whatever the browser sent.
std::string edit_text(const Control& control, const std::string& text) {
  if (control.kind() != ControlKind::MultiLineEdit || text.find('\r') == std::string::npos) return text;
  std::string kept;
  kept.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') kept += text[i];
    else if (i + 1 >= text.size() || text[i + 1] != '\n') kept += '\n';
  }
  return kept;
}

std::optional<int> button_number(Buttons buttons, std::string_view answer) {
  const auto names = button_names(buttons);
  const auto found = std::find(names.begin(), names.end(), answer);
  if (found == names.end()) return std::nullopt;
  return static_cast<int>(found - names.begin()) + 1;
}

}  // namespace

std::unique_ptr<Session> Session::start(Options options, std::string& error) {
  std::unique_ptr<Session> session(new Session(std::move(options)));
  session->sqlca_ = Transaction::open(session->options_.database_url, error);
  if (!session->sqlca_) return nullptr;
  session->sqlca_->protect_tables(session->options_.protected_tables);
  if (session->options_.journaled_tables && !attach_journal(*session->sqlca_, session->options_.journaled_tables)) {
    error = "cannot prepare the journal: " + session->sqlca_->sqlerrtext;
    return nullptr;
  }
  session->print_jobs_ = std::make_unique<PrintJobs>(session->options_.print_folder);
  session->thread_ = std::thread([s = session.get()] { s->run(); });
  // Wait for the first quiet moment so that state() is never empty.
  {
    std::unique_lock lock(session->mutex_);
    session->quiet_.wait(lock, [&] { return session->state_version_ > 0; });
  }
  for (const std::string& window : session->options_.open_at_start) session->post({"open", window});
  return session;
}

Session::Session(Options options) : options_(std::move(options)), client_view_(std::make_unique<ClientView>()) {}

Session::~Session() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  modals_.clear();
  sheets_.clear();
  if (sqlca_ && sqlca_->in_transaction()) sqlca_->rollback();
}

bool SessionUser::has_right(std::string_view right) const {
  return std::find(rights.begin(), rights.end(), right) != rights.end();
}

void Session::audit(const std::string& action, const std::string& detail) const {
  if (options_.audit) options_.audit(action, detail);
}

DateTime Session::today() const {
  if (options_.today) return *options_.today;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return DateTime::from_civil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

DateTime Session::now() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const DateTime day = today();
  return DateTime::from_civil(day.year(), day.month(), day.day(), local.tm_hour, local.tm_min, local.tm_sec);
}

EventResult Session::post(Event event) {
  std::lock_guard one_poster(post_mutex_);
  std::unique_lock lock(mutex_);
  if (stopping_) return EventResult::refused(Refusal::technical(RefusalCode::NotNow, "the session has ended"));
  const uint64_t id = ++posted_;
  queue_.push_back({id, std::move(event), {}});
  wake_.notify_all();
  quiet_.wait(lock, [&] { return stopping_ || (queue_.empty() && !busy_); });
  // The event is done, or waits inside a message box or modal window for the user.
  EventResult result;
  if (auto found = results_.find(id); found != results_.end()) {
    result = std::move(found->second);
    results_.erase(found);
  } else {
    result.pending = true;
  }
  result.id = id;
  // Results of earlier events that were pending when their posts returned.
  for (auto it = results_.begin(); it != results_.end() && it->first < id; it = results_.erase(it)) {
    it->second.id = it->first;
    result.resumed.push_back(std::move(it->second));
  }
  return result;
}

std::optional<Value> Session::last_call_result() const {
  std::lock_guard lock(mutex_);
  return last_call_result_;
}

nlohmann::json Session::state() const { return nlohmann::json::parse(state_text()); }

std::string Session::state_text() const {
  std::lock_guard one_build(whole_mutex_);
  uint64_t version = 0;
  {
    std::lock_guard lock(mutex_);
    version = app_version_;
  }
  if (!whole_text_ || whole_version_ != version) {
    // Built on the UI thread at its next quiet moment: the same moment as the last snapshot
    // unless another event came in between, in which case the newer state is the one wanted.
    std::shared_ptr<const std::string> text;
    uint64_t built = version;
    const bool read = const_cast<Session*>(this)->read_quietly([&] {
      auto* self = const_cast<Session*>(this);
      text = std::make_shared<const std::string>(self->state_document());
      std::lock_guard lock(mutex_);
      built = app_version_;
    });
    if (!read || !text) return whole_text_ ? *whole_text_ : "{}";
    whole_text_ = std::move(text);
    whole_version_ = built;
  }
  return *whole_text_;
}

std::optional<Session::ClientChanges> Session::client_changes(uint64_t since) const {
  std::lock_guard lock(mutex_);
  ClientChanges out{state_version_, "["};
  if (since > state_version_) return std::nullopt;
  if (since < state_version_) {
    // The versions after `since` must all be kept: the oldest kept one is since + 1 or older.
    if (client_versions_.empty() || client_versions_.front().version > since + 1) return std::nullopt;
    for (const ClientVersion& v : client_versions_) {
      if (v.version <= since) continue;
      if (!v.changes) return std::nullopt;
      if (v.changes->empty()) continue;
      if (out.changes.size() > 1) out.changes += ',';
      out.changes += *v.changes;
    }
  }
  out.changes += ']';
  return out;
}

Session::ClientDocument Session::client_document() {
  ClientDocument document{0, "{}"};
  read_quietly([&] {
    document.text = client_view_->document();
    std::lock_guard lock(mutex_);
    document.version = state_version_;
  });
  return document;
}

uint64_t Session::quiet_version() const {
  std::lock_guard lock(mutex_);
  return app_version_;
}

Session::Queued Session::next_event() {
  snapshot();
  std::unique_lock lock(mutex_);
  for (;;) {
    busy_ = false;
    if (queue_.empty()) quiet_.notify_all();
    wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) throw SessionStopping{};
    Queued next = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    if (!next.read) return next;
    // A read changes nothing: it runs here, and the session stays quiet around it.
    lock.unlock();
    try {
      next.read();
    } catch (...) {
    }
    lock.lock();
    results_[next.id] = {};
  }
}

void Session::change_user(SessionUser user) {
  read_quietly([&] {
    options_.user = std::move(user);
    client_view_->frame.clear();  // the menu follows the user's rights
  });
  // The state says who is logged in: it is taken again with the new user.
  read_quietly([this] { snapshot(); });
}

bool Session::read_quietly(const std::function<void()>& read) {
  std::lock_guard one_poster(post_mutex_);
  std::unique_lock lock(mutex_);
  if (stopping_) return false;
  const uint64_t id = ++posted_;
  Queued queued;
  queued.id = id;
  queued.read = read;
  queue_.push_back(std::move(queued));
  wake_.notify_all();
  quiet_.wait(lock, [&] { return stopping_ || (queue_.empty() && !busy_); });
  auto found = results_.find(id);
  if (found == results_.end()) return false;
  results_.erase(found);
  return true;
}

void Session::finish_event(uint64_t id, EventResult result) {
  std::lock_guard lock(mutex_);
  results_[id] = std::move(result);
  // Results nobody collects (a poster that gave up) must not pile up.
  while (results_.size() > 64) results_.erase(results_.begin());
}

void Session::snapshot() {
  take_client_version();
  std::lock_guard lock(mutex_);
  ++app_version_;
  quiet_.notify_all();
}

void Session::take_client_version() {
  std::string ops = take_client_state();
  if (!ops.empty() || state_version_ == 0) {
    std::shared_ptr<const std::string> changes;
    if (ops.size() <= kLargestKeptChanges) changes = std::make_shared<const std::string>(std::move(ops));
    std::lock_guard lock(mutex_);
    client_versions_bytes_ += changes ? changes->size() : 0;
    client_versions_.push_back({++state_version_, std::move(changes)});
    while (client_versions_.size() > kKeptVersions ||
           (client_versions_.size() > 1 && client_versions_bytes_ > kKeptVersionBytes)) {
      client_versions_bytes_ -= client_versions_.front().changes ? client_versions_.front().changes->size() : 0;
      client_versions_.pop_front();
    }
  }
}

bool Session::show_rows(const std::string& control, long from, long count) {
  bool found = false;
  read_quietly([&] {
    Window* window = active_window();
    FormControl* form = window ? window->form(control) : nullptr;
    if (!form) return;
    found = true;
    const long rows = form->store().rowcount();
    count = std::clamp(count, 1L, kMaxWindowRows);
    from = std::clamp(from, 1L, std::max(1L, rows - count + 1));
    row_views_[form] = {from, count, form->store().getrow()};
    // Only the client's view moved: the application's state is as it was.
    take_client_version();
  });
  return found;
}

long Session::find_row(const std::string& control, const std::string& column, const std::string& prefix, long from) {
  long found = -1;
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c); };
  read_quietly([&] {
    Window* window = active_window();
    FormControl* form = window ? window->form(control) : nullptr;
    if (!form || !form->store().has_definition()) return;
    const DataStore& store = form->store();
    const int index = store.def().column_index(column);
    if (index < 0) return;
    found = 0;
    const long rows = store.rowcount();
    if (rows == 0) return;
    const long start = std::clamp(from, 1L, rows);
    for (long i = 0; i < rows; ++i) {
      const long row = (start - 1 + i) % rows + 1;
      const std::string text = store.display_value(row, index + 1);
      if (text.size() < prefix.size()) continue;
      if (std::equal(prefix.begin(), prefix.end(), text.begin(), [&](char a, char b) { return lower(a) == lower(b); })) {
        found = row;
        return;
      }
    }
  });
  return found;
}

Result<Session::ListExport> Session::export_list(const std::string& control, const std::string& path) {
  std::optional<Result<ListExport>> answer;
  const bool ran = read_quietly([&] {
    Window* window = active_window();
    FormControl* form = window ? window->form(control) : nullptr;
    if (!form || !form->store().has_definition()) {
      answer = Refusal::technical(RefusalCode::BadRequest, "no list " + control + " in the active window");
      return;
    }
    Result<long> written = export_sheet(form->store(), window->title, path);
    if (!written) {
      answer = written.refusal();
      return;
    }
    answer = ListExport{window->class_name(), window->title, *written, today()};
  });
  if (!ran || !answer) return Refusal::technical(RefusalCode::NotNow, "the session has ended");
  return std::move(*answer);
}

void Session::run() {
  try {
    for (;;) {
      Queued next = next_event();
      EventResult result;
      dispatch(next.event, result);
      reap_closed();
      // Every script commits or rolls back its own work. One that failed half-way must not
      // keep the database locked for every other session while this one waits for the user.
      if (sqlca_->in_transaction()) {
        sqlca_->rollback();
        if (result.ok()) {
          result = EventResult::refused(Refusal::technical(
              RefusalCode::Failed, "the action left its changes neither saved nor undone; they were undone"));
        }
      }
      finish_event(next.id, std::move(result));
    }
  } catch (const SessionStopping&) {
  }
  std::lock_guard lock(mutex_);
  busy_ = false;
  quiet_.notify_all();
}

void Session::set_status(std::string text) {
  status_ = std::move(text);
  status_window_ = active_window();
  ++status_serial_;
}

Window* Session::active_window() const {
  if (!modals_.empty()) return modals_.back().get();
  if (active_sheet_ < sheets_.size()) return sheets_[active_sheet_].get();
  return nullptr;
}

bool Session::is_open(std::string_view class_name) const {
  for (const auto* windows : {&sheets_, &modals_}) {
    for (const auto& w : *windows) {
      if (w->class_name() == class_name) return true;
    }
  }
  return false;
}

void Session::request_close(Window& window) {
  if (std::find(closing_.begin(), closing_.end(), &window) == closing_.end()) closing_.push_back(&window);
}

void Session::reap_closed() {
  for (Window* closing : closing_) {
    for (auto* windows : {&sheets_, &modals_}) {
      auto it = std::find_if(windows->begin(), windows->end(), [&](const auto& w) { return w.get() == closing; });
      if (it == windows->end()) continue;
      if (windows == &sheets_) {
        refresh_menu();
        const size_t index = static_cast<size_t>(it - windows->begin());
        if (index < active_sheet_ || active_sheet_ + 1 == sheets_.size()) active_sheet_ = active_sheet_ ? active_sheet_ - 1 : 0;
      }
      windows->erase(it);
    }
  }
  closing_.clear();
}

void Session::forbid_pending_writes(std::string_view asking) const {
  if (!sqlca_->in_transaction()) return;
  sqlca_->rollback();
  throw std::logic_error("a script " + std::string(asking) +
                         " while holding uncommitted writes; they were rolled back (ask first, then write)");
}

int Session::message_box(std::string title, std::string text, Icon icon, Buttons buttons, int default_button) {
  forbid_pending_writes("showed the message \"" + text + "\"");
  if (default_button < 1 || default_button > static_cast<int>(button_names(buttons).size())) default_button = 1;
  box_ = MessageBoxState{std::move(title), std::move(text), icon, buttons, default_button};
  std::optional<int> answer;
  while (!answer) {
    Queued next = next_event();
    EventResult result;
    if (next.event.kind == "answer") {
      answer = button_number(buttons, next.event.target);
      if (!answer) result = EventResult::refused(Refusal::technical(RefusalCode::BadRequest, "the message box has no button " + next.event.target));
    } else if (!inspect(next.event, result)) {
      result = EventResult::refused(
          Refusal::technical(RefusalCode::NotNow, "a message box waits for an answer: \"" + box_->text + "\""));
    }
    finish_event(next.id, std::move(result));
  }
  box_.reset();
  return *answer;
}

std::string Session::open_modal(std::string_view class_name) {
  forbid_pending_writes("opened the dialog " + std::string(class_name));
  auto window = options_.registry->create(class_name, *this);
  if (!window) throw std::runtime_error("no window class " + std::string(class_name));
  Window* opened = window.get();
  modals_.push_back(std::move(window));
  opened->open();
  message.stringparm.clear();
  auto still_open = [&] {
    return std::any_of(modals_.begin(), modals_.end(), [&](const auto& w) { return w.get() == opened; });
  };
  reap_closed();
  while (still_open()) {
    Queued next = next_event();
    EventResult result;
    dispatch(next.event, result);
    reap_closed();
    finish_event(next.id, std::move(result));
  }
  return message.stringparm;
}

Window* Session::open_sheet(std::string_view class_name) {
  auto window = options_.registry->create(class_name, *this);
  if (!window) return nullptr;
  if (window->is_response()) {
    throw std::runtime_error(std::string(class_name) + " is a dialog; it opens from the window that asks for it");
  }
  if (sheets_.size() >= kMaxSheets) {
    throw std::runtime_error("打开的窗口已有" + std::to_string(kMaxSheets) + "个，请先关闭一些窗口");
  }
  Window* opened = window.get();
  sheets_.push_back(std::move(window));
  active_sheet_ = sheets_.size() - 1;
  opened->open();
  refresh_menu();
  return opened;
}

void Session::refresh_menu() {
  if (options_.menu_notes) client_view_->frame.clear();
}

bool Session::inspect(const Event& event, EventResult& result) {
  Window* window = active_window();
  auto need_form = [&]() -> FormControl* {
    FormControl* form = window ? window->form(event.target) : nullptr;
    if (!form) result = EventResult::refused(Refusal::technical(RefusalCode::BadRequest, "no form control " + event.target));
    return form;
  };
  if (event.kind == "value") {
    if (FormControl* form = need_form()) {
      if (!form->store().has_definition() || form->store().def().resolve_slot(event.column) < 0) {
        result = EventResult::refused(Refusal::technical(RefusalCode::BadRequest, "no column " + event.column + " in " + event.target));
      } else if (event.row < 1 || event.row > form->store().rowcount()) {
        result = EventResult::refused(Refusal::technical(RefusalCode::BadRequest, "no row " + std::to_string(event.row) + " in " + event.target));
      } else {
        result.result = form->store().getitem_any(event.row, event.column);
      }
    }
    return true;
  }
  if (event.kind == "property") {
    Control* control = window ? window->control(event.target) : nullptr;
    if (!control) {
      result = EventResult::refused(Refusal::technical(RefusalCode::BadRequest, "no control " + event.target));
    } else if (auto value = control->property(event.text)) {
      result.result = Value(*value);
    } else if (control->kind() == ControlKind::Form) {
      result.result = Value(static_cast<FormControl*>(control)->store().describe(event.text));
    } else {
      result = EventResult::refused(Refusal::technical(RefusalCode::BadRequest, "control " + event.target + " has no property " + event.text));
    }
    return true;
  }
  if (event.kind == "var") {
    auto value = window ? window->variable(event.target) : std::nullopt;
    if (!value) result = EventResult::refused(Refusal::technical(RefusalCode::BadRequest, "no window variable " + event.target));
    else result.result = *value;
    return true;
  }
  return false;
}

void Session::dispatch(const Event& event, EventResult& result) {
  // The status line spoke of the window that said it: an action done in another window ends
  // it, unless that action said something of its own. A refused event changes nothing.
  const Window* acting = active_window();
  const uint64_t said = status_serial_;
  dispatch_event(event, result);
  if (event.kind == "filter" || result.refusal || status_.empty() || status_serial_ != said) return;
  if (event.kind == "open" || event.kind == "activate") acting = active_window();
  if (acting != status_window_) status_.clear();
}

void Session::dispatch_event(const Event& event, EventResult& result) {
  auto refuse = [&](std::string why, RefusalCode code = RefusalCode::BadRequest) {
    result = EventResult::refused(Refusal::technical(code, std::move(why)));
  };
  try {
    if (inspect(event, result)) return;
    if (event.kind == "open") {
      if (!options_.registry->has(event.target)) return refuse("no window class " + event.target);
      if (const std::string right = options_.registry->right(event.target);
          !right.empty() && !options_.user.has_right(right))
        return refuse("window " + event.target + " needs the right " + right, RefusalCode::Forbidden);
      message.powerobjectparm.reset();
      if (!event.args.empty() && options_.open_parameter) message.powerobjectparm = options_.open_parameter(event.args);
      open_sheet(event.target);
      return;
    }
    if (event.kind == "activate") {
      for (size_t i = 0; i < sheets_.size(); ++i) {
        if (sheets_[i]->class_name() == event.target || std::to_string(i) == event.target) {
          if (!modals_.empty()) return refuse("a dialog is open", RefusalCode::NotNow);
          active_sheet_ = i;
          sheets_[i]->activate();
          refresh_menu();
          return;
        }
      }
      return refuse("no open window " + event.target);
    }
    if (event.kind == "answer") return refuse("no message box is open");
    Window* window = active_window();
    if (!window) return refuse("no window is open");
    if (event.kind == "click") {
      Control* control = window->control(event.target);
      if (!control) return refuse("no control " + event.target + " in " + window->class_name());
      if (!control->visible || !control->enabled)
        return refuse("control " + event.target + " cannot be clicked now", RefusalCode::NotNow);
      if (control->clicked) control->clicked();
      return;
    }
    if (event.kind == "text") {
      Control* control = window->control(event.target);
      if (!control || (control->kind() != ControlKind::EditMask && control->kind() != ControlKind::SingleLineEdit &&
                       control->kind() != ControlKind::MultiLineEdit && control->kind() != ControlKind::Selector))
        return refuse("no edit control " + event.target + " in " + window->class_name());
      if (!control->visible || !control->enabled)
        return refuse("control " + event.target + " cannot be edited now", RefusalCode::NotNow);
      if (auto refused = edit_refusal(*control, event.text)) {
        result = EventResult::refused(std::move(*refused));
        return;
      }
      control->text = edit_text(*control, event.text);
      return;
    }
    if (event.kind == "type" || event.kind == "filter" || event.kind == "select") {
      FormControl* form = window->form(event.target);
      if (!form) return refuse("no form control " + event.target + " in " + window->class_name());
      if (event.kind == "select") {
        if (!form->select_row(event.row)) refuse("no row " + std::to_string(event.row) + " in " + event.target);
        return;
      }
      if (!form->store().has_definition() || form->store().def().column_index(event.column) < 0)
        return refuse("no column " + event.column + " in " + event.target);
      if (event.row < 1 || event.row > form->store().rowcount())
        return refuse("no row " + std::to_string(event.row) + " in " + event.target);
      if (auto refused = form->editable(event.row, event.column)) {
        result = EventResult::refused(*refused);
        return;
      }
      if (event.kind == "filter") {
        form->filter_in(event.row, event.column, event.text);
        return;
      }
      // The status line spoke of the last action; an edit starts the next one.
      status_.clear();
      result.refusal = form->type_into(event.row, event.column, event.text);
      result.accepted = !result.refusal;
      return;
    }
    if (event.kind == "gesture") {
      result.refusal = window->gesture(event.target, event.args);
      result.accepted = !result.refusal;
      return;
    }
    if (event.kind == "call") {
      Result<Value> value = window->call(event.target, event.args);
      if (!value) {
        result = EventResult::refused(value.refusal());
        return;
      }
      result.result = *value;
      std::lock_guard lock(mutex_);
      last_call_result_ = *value;
      return;
    }
    if (event.kind == "close") {
      window->close_window();
      return;
    }
    if (event.kind == "resize") {
      if (event.args.size() != 2) return refuse("resize takes a width and a height");
      window->width = std::stoi(event.args[0]);
      window->height = std::stoi(event.args[1]);
      window->resize(window->width, window->height);
      return;
    }
    refuse("unknown event " + event.kind);
  } catch (const SessionStopping&) {
    throw;
  } catch (const std::exception& e) {
    refuse(std::string("script error: ") + e.what(), RefusalCode::Failed);
  }
}

}  // namespace shenbao
