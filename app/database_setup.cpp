#include "app/database_setup.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string_view>
#include <vector>

#include "framework/host/host_session.h"
#include "framework/runtime/sql/journal.h"
#include "server/passwords.h"

namespace shenbao {

std::string database_folder() {
  if (const char* dir = std::getenv("SHENBAO_DB_DIR"); dir && *dir) return dir;
  return std::string(SHENBAO_SOURCE_DIR) + "/db";
}

namespace {

bool read_text_file(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

// Rolls back and answers false with the database's reason.
bool fail(Transaction& sqlca, std::string_view what, std::string& error) {
  error = std::string(what) + ": " + sqlca.sqlerrtext;
  sqlca.rollback();
  return false;
}

}  // namespace

bool database_has_tables(Transaction& sqlca, bool& has_tables, std::string& error) {
  const char* sql = sqlca.dialect() == Dialect::SQLite
                        ? "select count(*) from sqlite_master where type = 'table' and name not like 'sqlite_%'"
                        : "select count(*) from information_schema.tables where table_schema = current_schema()";
  std::vector<Value> row{Value()};
  if (sqlca.select_into(sql, {}, row) != 0) {
    error = "cannot list the tables: " + sqlca.sqlerrtext;
    sqlca.rollback();
    return false;
  }
  sqlca.rollback();  // ends the read transaction
  has_tables = row[0].is_numeric() && row[0].as_number() > 0;
  return true;
}

namespace {

// A fixture names its users' passwords as "plain:PASSWORD"; they are hashed here, with salts
// of this process, so that no two databases made by `init` share a hash. (Within one process,
// the test suite's, each password is hashed once: argon2 is slow on purpose.)
bool hash_fixture_passwords(Transaction& sqlca, std::string& error) {
  static std::mutex mutex;
  static std::map<std::string, std::string> hashed;
  std::vector<std::pair<std::string, std::string>> users;
  if (sqlca.query("select username, password_hash from sys_user where password_hash like 'plain:%'", {},
                  [&](const ResultRow& row) {
                    users.emplace_back(row.get(0).to_string(), row.get(1).to_string().substr(6));
                    return true;
                  }) < 0)
    return fail(sqlca, "sys_user", error);
  for (const auto& [username, password] : users) {
    std::string hash;
    {
      std::lock_guard lock(mutex);
      std::string& known = hashed[password];
      if (known.empty()) {
        std::string refused;
        known = hash_password(password, refused);
        if (known.empty()) {
          error = "cannot hash the password of " + username + ": " + refused;
          sqlca.rollback();
          return false;
        }
      }
      hash = known;
    }
    if (sqlca.execute("update sys_user set password_hash = :h where username = :u", {hash, username}) != 0)
      return fail(sqlca, "user " + username, error);
  }
  return true;
}

}  // namespace

bool create_database(Transaction& sqlca, bool load_fixture, const std::string& fixture_path, std::string& error) {
  const std::string schema_path = database_folder() + "/schema.sql";
  std::string schema;
  if (!read_text_file(schema_path, schema, error)) return false;
  if (sqlca.execute_script(schema) != 0) return fail(sqlca, schema_path, error);
  if (load_fixture) {
    const std::string path = fixture_path.empty() ? database_folder() + "/fixture.sql" : fixture_path;
    std::string fixture;
    if (!read_text_file(path, fixture, error)) {
      sqlca.rollback();
      return false;
    }
    if (sqlca.execute_script(fixture) != 0) return fail(sqlca, path, error);
    if (!hash_fixture_passwords(sqlca, error)) return false;
  }
  if (!install_journal(sqlca, is_journaled_table)) return fail(sqlca, "the journal's triggers", error);
  if (sqlca.commit() != 0) return fail(sqlca, "commit", error);
  return true;
}

bool id_number_valid(std::string_view card_no) {
  static constexpr int kWeights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
  static constexpr std::string_view kCheck = "10X98765432";
  if (card_no.size() != 18) return false;
  int sum = 0;
  for (size_t i = 0; i < 17; ++i) {
    if (card_no[i] < '0' || card_no[i] > '9') return false;
    sum += (card_no[i] - '0') * kWeights[i];
  }
  return card_no[17] == kCheck[static_cast<size_t>(sum % 11)];
}

namespace {

constexpr std::string_view kSurnames[] = {
    "王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周", "徐", "孙", "马", "朱", "胡", "郭", "何",
    "高", "林", "罗", "郑", "梁", "谢", "宋", "唐", "许", "韩", "冯", "邓", "曹", "彭", "曾", "肖", "田",
    "董", "袁", "潘", "于", "蒋", "蔡", "余", "杜", "叶", "程", "苏", "魏", "吕", "丁", "任", "沈", "姚",
    "卢", "姜", "崔", "钟", "谭", "陆", "汪", "范", "金", "石", "廖", "贾", "夏", "韦", "方", "白", "邹",
    "孟", "熊", "秦", "邱", "江", "尹", "薛", "段", "雷", "侯", "龙", "史", "陶", "黎", "贺", "顾", "毛",
    "郝", "龚", "邵", "万", "钱", "严", "覃", "戴", "莫", "孔", "向", "汤", "欧阳", "司马", "诸葛", "上官"};
constexpr std::string_view kMaleGiven[] = {
    "伟", "强", "磊", "军", "勇", "杰", "涛", "斌", "超", "明", "刚", "平", "辉", "鹏", "华", "飞", "鑫",
    "波", "宇", "浩", "凯", "健", "俊", "帆", "旭", "宁", "龙", "林", "建", "国", "志", "文", "海", "东",
    "晓", "卫", "峰", "博", "昊", "睿", "哲", "翔", "成", "兵", "亮", "振", "毅", "彬"};
constexpr std::string_view kFemaleGiven[] = {
    "芳", "娜", "敏", "静", "丽", "艳", "娟", "霞", "秀", "英", "慧", "玲", "燕", "红", "梅", "琳", "雪",
    "婷", "颖", "倩", "洁", "佳", "萍", "莉", "晶", "妍", "瑶", "怡", "琪", "璐", "蕾", "薇", "彤", "悦"};
// Characters outside the common sets that fonts and encodings must still carry, with the sex
// of the names they end; a unit of 50 or more workers has each of them.
constexpr struct {
  std::string_view character;
  bool male;
} kRare[] = {{"玥", false}, {"堃", true}, {"珺", false}, {"喆", true}, {"赟", true}, {"镕", true}};

constexpr std::string_view kUnitNames[] = {"江州市教育局", "江州市公安局",   "江州市民政局", "江州市卫生局",
                                           "江州市交通运输局", "江州市农业局", "江州市文化局", "江州市审计局"};
constexpr std::string_view kDepartments[] = {"办公室", "人事科", "财务科", "政策法规科", "综合科", "监察室",
                                             "信息中心"};
constexpr std::string_view kTrainings[] = {"公共服务能力专题培训", "公共政策分析", "科级干部任职培训",
                                           "依法行政专题培训",     "公文写作与处理", "电子政务应用",
                                           "廉政建设专题教育",     "突发事件应急管理"};

// A rank (rs_jb_code) with the post (rs_zhiwu_code) that goes with it and the birth years
// of people who hold it.
struct Rank {
  const char* jb;
  const char* post;
  int born_from, born_to;
};
constexpr Rank kHead{"9", "0101", 1955, 1966};
constexpr Rank kDeputy{"11", "0111", 1958, 1970};
constexpr Rank kResearcher{"10", "0121", 1955, 1965};
constexpr Rank kDeputyResearcher{"12", "0122", 1957, 1968};
constexpr Rank kSectionChief{"13", "0131", 1962, 1978};
constexpr Rank kDeputyChief{"15", "0132", 1966, 1982};
constexpr Rank kStaff[] = {{"14", "0141", 1965, 1982},
                           {"16", "0142", 1970, 1986},
                           {"17", "0151", 1975, 1990},
                           {"17", "0151", 1975, 1990},
                           {"18", "0152", 1978, 1990}};

class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}
  int below(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }
  int between(int from, int to) { return from + below(to - from + 1); }
  template <size_t N>
  std::string_view pick(const std::string_view (&items)[N]) {
    return items[static_cast<size_t>(below(static_cast<int>(N)))];
  }
  DateTime day_between(int year_from, int year_to) {
    const DateTime first = DateTime::from_civil(year_from, 1, 1);
    const DateTime last = DateTime::from_civil(year_to, 12, 31);
    const int days = static_cast<int>((last.seconds_since_epoch() - first.seconds_since_epoch()) / 86400);
    return first.plus_days(below(days + 1));
  }
  // A surname and one or two given characters; `last`, when given, ends the name.
  std::string name(bool male, std::string_view last = {}) {
    std::string out(pick(kSurnames));
    if (!last.empty() || below(10) < 7) out += male ? pick(kMaleGiven) : pick(kFemaleGiven);
    out += last.empty() ? (male ? pick(kMaleGiven) : pick(kFemaleGiven)) : last;
    return out;
  }

 private:
  std::mt19937 random_;
};

std::string three_digits(int n) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%03d", n);
  return buffer;
}

std::string id_number(int unit, DateTime birthday, bool male, Generator& g) {
  char area[8];
  std::snprintf(area, sizeof area, "3601%02d", (unit + 1) % 100);
  int sequence = g.between(1, 99) * 10 + g.below(5) * 2 + (male ? 1 : 0);
  std::string body = area + birthday.format("yyyymmdd") + three_digits(sequence % 1000);
  static constexpr int kWeights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
  int sum = 0;
  for (size_t i = 0; i < 17; ++i) sum += (body[i] - '0') * kWeights[i];
  return body + "10X98765432"[sum % 11];
}

const char* const kInsertCompany =
    "insert into rs_info_company (company_num, company_name, dept, company_property, now_mans, bz_mans, xzbz_mans, "
    "fsbz_mans) values (:company_num, :company_name, :dept, :property, :now_mans, :bz_mans, :xzbz_mans, :fsbz_mans)";
const char* const kInsertDepartment =
    "insert into gg_bumen_bm (book_code, gg_bm_id, gg_bm_mc) values (:book_code, :id, :name)";
const char* const kInsertWorker =
    "insert into rs_main (company_num, worker_code, book_code, worker_name, sex, card_no, birthday, csny, "
    "people_standing, post, jb, department, first_degree, stuff_status, a_vc1, a_vc2, a_date1) values (:company_num, "
    ":worker_code, :book_code, :worker_name, :sex, :card_no, :birthday, :csny, :people_standing, :post, :jb, "
    ":department, :first_degree, :stuff_status, :a_vc1, :a_vc2, :a_date1)";
// The same columns for rs_sub_jl_2 and rs_sub_jl.
const char* const kRewardColumns =
    " (pk_time, company_num, jl_name, jl_type, jl_reason, jl_date, jl_company, glory_name, glory_company_type, "
    "book_code, createby, createdate, lastupdateby, lastupdate, worker_code, ry_jb, jlsj) values (:day, :company_num, "
    ":jl_name, :jl_type, :jl_reason, :jl_date, :jl_company, :glory_name, :glory_company_type, :book_code, :by, :day, "
    ":by, :day, :worker_code, :ry_jb, :day)";
const char* const kInsertTraining =
    "insert into rs_sub_education (pk_time, company_num, px_property, px_mode, px_content, px_type, px_result, "
    "px_start_date, px_end_date, px_company_property, book_code, createby, createdate, lastupdateby, lastupdate, "
    "worker_code, px_xf, px_km) values (:day, :company_num, :px_property, :px_mode, :px_content, :px_type, "
    ":px_result, :px_start_date, :px_end_date, :px_company_property, :book_code, :by, :day, :by, :day, "
    ":worker_code, :px_xf, :px_km)";
const char* const kInsertUser =
    "insert into sys_user (username, password_hash, display_name, company_num, role) values (:username, :hash, "
    ":display_name, :company_num, :role)";

struct Worker {
  std::string code;
  bool male = true;
  DateTime birthday;
  bool in_service = true;
};

// One unit: its master data, departments, workers, records and clerk.
bool generate_unit(Transaction& sqlca, int unit, int index, int workers, Generator& g, std::string& error) {
  const std::string company = three_digits(unit);
  const int department_count = 4 + index % 3;
  for (int d = 0; d < department_count; ++d) {
    const std::string id = (d + 1 < 10 ? "0" : "") + std::to_string(d + 1);
    if (sqlca.execute(kInsertDepartment, {company, id, kDepartments[d]}) != 0)
      return fail(sqlca, "departments of " + company, error);
  }

  // Ranks in order of worker codes: the head, deputies, researchers, a chief and a deputy
  // chief per department, then staff.
  std::vector<Rank> ranks = {kHead, kDeputy, kDeputy, kResearcher, kDeputyResearcher, kDeputyResearcher};
  for (int d = 0; d < department_count; ++d) ranks.push_back(kSectionChief);
  for (int d = 0; d < department_count; ++d) ranks.push_back(kDeputyChief);
  while (static_cast<int>(ranks.size()) < workers) ranks.push_back(kStaff[g.below(std::size(kStaff))]);
  ranks.resize(static_cast<size_t>(workers));

  const int first_chief = 6;
  const int first_staff = first_chief + 2 * department_count;
  std::vector<Worker> people;
  int in_service = 0;
  for (int i = 0; i < workers; ++i) {
    const Rank& rank = ranks[static_cast<size_t>(i)];
    Worker w;
    char code[16];
    std::snprintf(code, sizeof code, "%s%04d", company.c_str(), i + 1);
    w.code = code;
    w.male = i == 0 ? true : g.below(100) < 58;
    std::string_view last;
    if (i % 9 == 4) {  // every ninth name ends in a rare character, in turn
      const auto& rare = kRare[static_cast<size_t>(i / 9) % std::size(kRare)];
      w.male = rare.male;
      last = rare.character;
    }
    const std::string name = g.name(w.male, last);
    w.birthday = g.day_between(rank.born_from, rank.born_to);
    const bool worker_rank = std::string_view(rank.jb) == "18";
    const char* standing = worker_rank && g.below(2) == 0 ? "4" : "5";
    static constexpr std::string_view kDegrees[] = {"11", "21", "21", "21", "21", "21", "21", "31", "31", "41"};
    const std::string_view degree = g.pick(kDegrees);
    // A few of the staff have resigned.
    w.in_service = i < first_staff || g.below(100) >= 6;
    Value a_vc1, a_vc2, a_date1;
    if (!w.in_service) {
      const DateTime left = g.day_between(2007, 2009);
      a_vc1 = "86";
      a_vc2 = left.format("yyyymmdd");
      a_date1 = left;
    } else {
      ++in_service;
    }
    // The head sits in the office, each department has its chief and deputy chief, the
    // others anywhere.
    int department = g.between(1, department_count);
    if (i == 0) department = 1;
    if (i >= first_chief && i < first_staff) department = (i - first_chief) % department_count + 1;
    const std::string dept_id = (department < 10 ? "0" : "") + std::to_string(department);
    if (sqlca.execute(kInsertWorker, {company, w.code, company, name, w.male ? "1" : "2",
                                      id_number(unit, w.birthday, w.male, g), w.birthday.format("yyyymmdd"),
                                      w.birthday, standing, rank.post, rank.jb, dept_id, degree,
                                      w.in_service ? "01" : "04", a_vc1, a_vc2, a_date1}) != 0)
      return fail(sqlca, "worker " + w.code, error);
    people.push_back(std::move(w));
  }

  const std::string unit_name = std::string(kUnitNames[static_cast<size_t>(index) % std::size(kUnitNames)]);
  const int fsbz = 2 + index % 3;
  const int xzbz = in_service + 1 + index % 4;
  if (sqlca.execute(kInsertCompany, {company, unit_name, "江州市人民政府", index % 4 == 3 ? "2" : "1", in_service,
                                     xzbz + fsbz, xzbz, fsbz}) != 0)
    return fail(sqlca, "unit " + company, error);

  // Records: rewards for about one in six, older rewards for one in twenty, training for
  // about one in four (some twice).
  static constexpr std::string_view kRewards[] = {"1000", "1000", "1000", "2000", "2000", "3000"};
  static constexpr std::string_view kReasons[] = {"01", "01", "02", "04", "09"};
  static constexpr std::string_view kResults[] = {"1", "1", "1", "2", "3", "4"};
  for (const Worker& w : people) {
    if (g.below(6) == 0) {
      const DateTime day = g.day_between(2007, 2009);
      if (sqlca.execute(std::string("insert into rs_sub_jl_2") + kRewardColumns,
                        {day, company, g.pick(kRewards), "1", g.pick(kReasons), day.format("yyyymmdd"),
                         g.below(2) ? "江州市人民政府" : unit_name, Value(), Value(), company, "authority", w.code,
                         g.below(3) ? "3" : "4"}) != 0)
        return fail(sqlca, "reward of " + w.code, error);
    }
    if (g.below(20) == 0) {
      const DateTime day = g.day_between(2003, 2006);
      if (sqlca.execute(std::string("insert into rs_sub_jl") + kRewardColumns,
                        {day, company, g.pick(kRewards), "1", g.pick(kReasons), day.format("yyyymmdd"),
                         "江州市人民政府", Value(), Value(), company, "authority", w.code, "3"}) != 0)
        return fail(sqlca, "older reward of " + w.code, error);
    }
    for (int course = g.below(4) == 0 ? 1 + g.below(2) : 0; course > 0; --course) {
      const DateTime start = g.day_between(2008, 2009);
      const int days = g.between(3, 30);
      const DateTime end = start.plus_days(days);
      if (sqlca.execute(kInsertTraining,
                        {end, company, std::to_string(g.between(1, 4)), std::to_string(g.between(1, 4)),
                         g.pick(kTrainings), std::array{"1", "2", "3", "9"}[static_cast<size_t>(g.below(4))],
                         g.pick(kResults), start.format("yyyymmdd"), end.format("yyyymmdd"),
                         std::to_string(g.between(1, 4)), company, "authority", w.code,
                         static_cast<double>(1 + days / 8), "0" + std::to_string(g.between(1, 5))}) != 0)
        return fail(sqlca, "training of " + w.code, error);
    }
  }

  const std::string username = "clerk" + company;
  std::string refused;
  const std::string hash = hash_password(username + "pass", refused);
  if (hash.empty()) {
    error = "cannot hash the password of " + username + ": " + refused;
    sqlca.rollback();
    return false;
  }
  if (sqlca.execute(kInsertUser, {username, hash, g.name(g.below(2) == 0), company, "clerk"}) != 0)
    return fail(sqlca, "user " + username, error);
  return true;
}

}  // namespace

bool generate_demo_data(Transaction& sqlca, const DemoOptions& options, std::string& error) {
  if (options.first_unit < 1 || options.first_unit + options.units - 1 > 999 || options.workers_per_unit < 1 ||
      options.workers_per_unit > 9999) {
    error = "demo units must be numbered 001 to 999 with 1 to 9999 workers each";
    return false;
  }
  for (int i = 0; i < options.units; ++i) {
    Generator g(options.seed + static_cast<uint32_t>(i) * 7919u);
    if (!generate_unit(sqlca, options.first_unit + i, i, options.workers_per_unit, g, error)) return false;
  }
  std::vector<Value> found{Value()};
  const long rc = sqlca.select_into("select username from sys_user where username = :u", {"authority"}, found);
  if (rc < 0) return fail(sqlca, "users", error);
  if (rc == 100) {
    std::string refused;
    const std::string hash = hash_password("authoritypass", refused);
    if (hash.empty()) {
      error = "cannot hash the password of authority: " + refused;
      sqlca.rollback();
      return false;
    }
    if (sqlca.execute(kInsertUser, {"authority", hash, "市人事局审批员", Value(), "authority"}) != 0)
      return fail(sqlca, "user authority", error);
  }
  if (sqlca.commit() != 0) return fail(sqlca, "commit", error);
  return true;
}

}  // namespace shenbao
