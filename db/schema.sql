-- Tables of the declaration module and of the host around it.
-- Written once for SQLite and PostgreSQL: the loader replaces @IDENTITY@ by the
-- generated-key clause of the database (see db/README.md).

-- ---------------------------------------------------------------------------
-- Register and master data
-- ---------------------------------------------------------------------------

-- Units: master data and staffing figures.
create table rs_info_company (
  company_num varchar(20) not null,
  company_name varchar(50),
  dept varchar(100),
  company_property varchar(10),
  now_mans integer,
  bz_mans integer,
  xzbz_mans integer,
  fsbz_mans integer,
  primary key (company_num)
);

-- The personnel register, one row per person of a unit. stuff_status: '01' in service,
-- '04' resigned, '05' left by dismissal or expulsion; birthday is a 'yyyymmdd' text.
create table rs_main (
  company_num varchar(20) not null,
  worker_code varchar(20) not null,
  book_code varchar(20),
  worker_name varchar(20),
  sex varchar(10),
  card_no varchar(40),
  birthday varchar(8),
  csny timestamp,
  people_standing varchar(10),
  post varchar(40),
  jb varchar(10),
  department varchar(20),
  first_degree varchar(20),
  stuff_status varchar(10),
  a_vc1 varchar(10),
  a_vc2 varchar(20),
  a_date1 timestamp,
  primary key (company_num, worker_code)
);

create index rs_main_unit on rs_main (company_num);
-- A unit's workers in service, in number order with their names (the worker list of every
-- declaration window), are read from this index alone.
create index rs_main_unit_status on rs_main (company_num, stuff_status, worker_code, worker_name);
-- A unit's civil servants in service counted by rank (the post and rank declaration's counts)
-- are read from this index alone, however large the unit.
create index rs_main_rank_count on rs_main (company_num, stuff_status, people_standing, jb, worker_code);

-- Departments of a unit (book_code is the unit's company_num).
create table gg_bumen_bm (
  book_code varchar(20) not null,
  gg_bm_id varchar(20) not null,
  gg_bm_mc varchar(50),
  primary key (book_code, gg_bm_id)
);

-- Reward records of the register; jl_date is a 'yyyymmdd' text, jlsj the same date.
create table rs_sub_jl_2 (
  pk_id @IDENTITY@,
  pk_time timestamp,
  company_num varchar(20),
  jl_name varchar(10),
  jl_type varchar(10),
  jl_reason varchar(10),
  jl_date varchar(20),
  jl_company varchar(100),
  glory_name varchar(10),
  glory_company_type varchar(100),
  book_code varchar(20),
  createby varchar(20),
  createdate timestamp,
  lastupdateby varchar(20),
  lastupdate timestamp,
  worker_code varchar(20),
  ry_jb varchar(10),
  jlsj timestamp
);

create index rs_sub_jl_2_worker on rs_sub_jl_2 (company_num, worker_code);

-- An older reward record table with the same columns.
create table rs_sub_jl (
  pk_id @IDENTITY@,
  pk_time timestamp,
  company_num varchar(20),
  jl_name varchar(10),
  jl_type varchar(10),
  jl_reason varchar(10),
  jl_date varchar(20),
  jl_company varchar(100),
  glory_name varchar(10),
  glory_company_type varchar(100),
  book_code varchar(20),
  createby varchar(20),
  createdate timestamp,
  lastupdateby varchar(20),
  lastupdate timestamp,
  worker_code varchar(20),
  ry_jb varchar(10),
  jlsj timestamp
);

create index rs_sub_jl_worker on rs_sub_jl (company_num, worker_code);

-- Training records of the register; the dates are 'yyyymmdd' texts.
create table rs_sub_education (
  pk_id @IDENTITY@,
  pk_time timestamp,
  company_num varchar(20),
  px_property varchar(10),
  px_mode varchar(10),
  px_content varchar(200),
  px_type varchar(10),
  px_result varchar(10),
  px_start_date varchar(8),
  px_end_date varchar(8),
  px_company_property varchar(10),
  book_code varchar(20),
  createby varchar(20),
  createdate timestamp,
  lastupdateby varchar(20),
  lastupdate timestamp,
  worker_code varchar(20),
  px_xf double precision,
  px_km varchar(10)
);

create index rs_sub_education_worker on rs_sub_education (company_num, worker_code);

-- Punishment records of the register; punish_date and rescind_date are 'yyyymmdd' texts.
create table rs_sub_punish (
  pk_id @IDENTITY@,
  company_num varchar(20),
  worker_code varchar(20),
  book_code varchar(20),
  punish_name varchar(10),
  punish_reason varchar(10),
  punish_date varchar(8),
  cfsj timestamp,
  rescind_date varchar(8),
  jccfsj timestamp
);

create index rs_sub_punish_worker on rs_sub_punish (company_num, worker_code);

-- ---------------------------------------------------------------------------
-- Code tables
-- ---------------------------------------------------------------------------

create table rs_sex_code (
  sex_code varchar(10) not null,
  sex_name varchar(100),
  primary key (sex_code)
);

-- Posts.
create table rs_zhiwu_code (
  zhiwu_code varchar(10) not null,
  zhiwu_name varchar(100),
  class1_name varchar(60),
  pk_id integer,
  pk_time timestamp,
  primary key (zhiwu_code)
);

-- Ranks.
create table rs_jb_code (
  code varchar(10) not null,
  name varchar(100),
  primary key (code)
);

-- Personal standing of a worker ('5' civil servant).
create table rs_grsf_code (
  grsf_code varchar(10) not null,
  grsf_name varchar(100),
  primary key (grsf_code)
);

-- Kinds of person in the personnel plan.
create table rs_rysf (
  grsf varchar(10) not null,
  grsf_name varchar(50),
  primary key (grsf)
);

-- Nature of a planned person's previous unit.
create table rs_dwxz (
  dwxz varchar(10) not null,
  dwxz_name varchar(50),
  primary key (dwxz)
);

-- Kind of establishment post a planned person occupies.
create table rs_zbxz (
  code varchar(10) not null,
  name varchar(50),
  primary key (code)
);

-- Education levels.
create table rs_wenhua_code (
  wenhua_code varchar(10) not null,
  wenhua_name varchar(100),
  primary key (wenhua_code)
);

-- Academic degrees.
create table rs_xuewei_code (
  xuewei varchar(10) not null,
  xuewei_name varchar(100),
  primary key (xuewei)
);

-- Professional titles.
create table rs_title_code (
  title_code varchar(10) not null,
  title_name varchar(100),
  primary key (title_code)
);

-- Nature of a unit.
create table rs_deptproperty_code (
  deptproperty_code varchar(10) not null,
  deptproperty_name varchar(100),
  primary key (deptproperty_code)
);

-- Forms of training.
create table rs_pxmode_code (
  pxmode_code varchar(10) not null,
  pxmode_name varchar(100),
  primary key (pxmode_code)
);

create table rs_yesno_code (
  code varchar(10) not null,
  name varchar(100),
  primary key (code)
);

-- Reasons for a dismissal.
create table rs_cz_ctyy (
  ctyy varchar(10) not null,
  ctyy_name varchar(100),
  primary key (ctyy)
);

-- Punishments; the discipline declaration offers the codes from '50' upward.
create table rs_punish (
  punish_code varchar(10) not null,
  punish_name varchar(255),
  class1_name varchar(60),
  primary key (punish_code)
);

-- Reasons for a punishment.
create table rs_punishreason_code (
  punishreason_code varchar(10) not null,
  punishreason_name varchar(100),
  primary key (punishreason_code)
);

-- Rewards ('9000' an honorary title).
create table rs_encouragement_code (
  jl_code varchar(10) not null,
  jl_name varchar(100),
  primary key (jl_code)
);

-- Kinds of reward.
create table rs_jltype_code (
  jltype_code varchar(10) not null,
  jltype_name varchar(100),
  primary key (jltype_code)
);

-- Reasons for a reward.
create table rs_jlreason_code (
  jlreason_code varchar(10) not null,
  jlreason_name varchar(100),
  primary key (jlreason_code)
);

-- Honorary titles.
create table rs_glory_code (
  glory_code varchar(10) not null,
  glory_name varchar(100),
  primary key (glory_code)
);

-- Reward levels.
create table rs_ryjb_dict (
  dictvalue varchar(10) not null,
  description varchar(100),
  primary key (dictvalue)
);

-- Training records: nature, kind, result, kind of school.
create table rs_pxproperty_code (
  pxproperty_code varchar(10) not null,
  pxproperty_name varchar(100),
  primary key (pxproperty_code)
);

create table rs_train_code (
  train_code varchar(10) not null,
  train_name varchar(100),
  primary key (train_code)
);

create table rs_pxresult_code (
  pxresult_code varchar(10) not null,
  pxresult_name varchar(100),
  primary key (pxresult_code)
);

create table rs_pxdwxz_code (
  pxdwxz_code varchar(10) not null,
  pxdwxz_name varchar(100),
  primary key (pxdwxz_code)
);

-- ---------------------------------------------------------------------------
-- Users, approvals and key counters of the host
-- ---------------------------------------------------------------------------

-- Logins. role 'clerk' (company_num: his unit) or 'authority' (company_num null);
-- password_hash is an argon2id string.
create table sys_user (
  username varchar(20) not null,
  password_hash varchar(255) not null,
  display_name varchar(50),
  company_num varchar(20),
  role varchar(10) not null,
  primary key (username)
);

-- One row per accepted declaration (table_name: its unit table); a declaration
-- is accepted once.
create table rs_sb_approval (
  table_name varchar(30) not null,
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  approved_at timestamp,
  approved_by varchar(20),
  unique (table_name, pkid, company_num)
);

-- Every step of a declaration's life, written by the declaration gate in the step's own
-- transaction: created, saved, submitted, returned (with the reason), resubmitted, accepted.
-- table_name is the category's unit table; address is the user's network address.
create table sb_history (
  pk_id @IDENTITY@,
  table_name varchar(30) not null,
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  step varchar(20) not null,
  username varchar(20),
  at timestamp,
  address varchar(64),
  reason varchar(500)
);
create index sb_history_declaration on sb_history (table_name, pkid, company_num, pk_id);

-- The next number from which the host makes a 10-character pkid, per worker table.
create table sb_key_counter (
  table_name varchar(30) not null,
  next_value integer not null,
  primary key (table_name)
);

-- ---------------------------------------------------------------------------
-- Declarations: one unit table (pkid, company_num) and one worker table
-- (pkid, company_num, worker_code) per category
-- ---------------------------------------------------------------------------

-- Post and rank: the unit's post counts by post class (xcz, xcf, dy, fdy).
create table rs_w00031_com (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  state integer,
  company_name varchar(50),
  sb_date timestamp,
  sbr varchar(10),
  phone varchar(20),
  mail varchar(50),
  sbsm text,
  xzbz_mans integer,
  fsbz_mans integer,
  zs_nsjg integer,
  now_mans integer,
  zs_hd_xcz integer,
  zs_hd_xcf integer,
  zs_hd_dy integer,
  zs_hd_fdy integer,
  zs_xy_xcz integer,
  zs_xy_xcf integer,
  zs_xy_dy integer,
  zs_xy_fdy integer,
  zs_xcz_add integer,
  zs_xcf_add integer,
  zs_dy_add integer,
  zs_fdy_add integer,
  zs_xcz_js integer,
  zs_xcf_js integer,
  zs_dy_js integer,
  zs_fdy_js integer,
  zs_tz_xcz integer,
  zs_tz_xcf integer,
  zs_tz_dy integer,
  zs_tz_fdy integer,
  tel varchar(50),
  sbid varchar(50),
  primary key (pkid, company_num)
);

create index rs_w00031_com_unit_date on rs_w00031_com (company_num, sb_date);

-- Post and rank: proposed post (ndzw) and rank (ndjb) of a worker.
create table rs_w00031 (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  worker_code varchar(20) not null,
  state integer,
  worker_name varchar(20),
  sex varchar(10),
  birthday timestamp,
  people_standing varchar(10),
  ndzw varchar(10),
  ndjb varchar(10),
  rzbm varchar(50),
  rzsj timestamp,
  yzw varchar(10),
  yjb varchar(10),
  yrzsj timestamp,
  ybm varchar(50),
  bz varchar(200),
  card_no varchar(40),
  primary key (pkid, company_num, worker_code)
);

create index rs_w00031_unit_worker on rs_w00031 (company_num, worker_code);

-- Personnel plan: planned intake by category (each with its issued twin _xd_) and
-- the unit's establishment and head counts.
create table rs_w00034_com (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  state integer,
  company_name varchar(50),
  sbr varchar(10),
  phone varchar(20),
  mail varchar(50),
  sb_date timestamp,
  sbsm text,
  company_property varchar(10),
  dept varchar(100),
  now_mans integer,
  bz_mans integer,
  az_jzgb integer,
  az_tysb integer,
  az_ydy integer,
  az_cjr integer,
  zl_gwy integer,
  zl_xzfs integer,
  zl_sygb integer,
  zl_sygr integer,
  tp_tr_zr integer,
  tp_sygb integer,
  tp_sygr integer,
  az_xd_jzgb integer,
  az_xd_tysb integer,
  az_xd_ydy integer,
  az_xd_cjr integer,
  ry_fs_num integer,
  ry_qe_num integer,
  zl_xd_sygb integer,
  zl_xd_sygr integer,
  tp_xd_tr_zr integer,
  tp_xd_sygb integer,
  tp_xd_sygr integer,
  bz_ce_num integer,
  bz_qe_num integer,
  bz_zz_num integer,
  ry_xz_num integer,
  zl_xd_gwy integer,
  zl_xd_xzfs integer,
  ry_ce_num integer,
  ry_zz_num integer,
  xzbz_mans integer,
  fsbz_mans integer,
  tel varchar(50),
  sbid varchar(50),
  primary key (pkid, company_num)
);

create index rs_w00034_com_unit_date on rs_w00034_com (company_num, sb_date);

-- Personnel plan: one row per planned new person (worker_code '9' + six digits).
create table rs_w00034 (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  worker_code varchar(20) not null,
  state integer,
  worker_name varchar(20),
  sex varchar(10),
  birthday timestamp,
  nj_rysf varchar(10),
  nj_dwxz varchar(10),
  first_degree varchar(20),
  xuewei varchar(10),
  title varchar(20),
  zbxz varchar(10),
  bz varchar(200),
  card_no varchar(40),
  primary key (pkid, company_num, worker_code)
);

create index rs_w00034_unit_worker on rs_w00034 (company_num, worker_code);

-- Training: per subject 01 to 10 remarks, passed, hours, credits, form, due.
create table rs_w00028_com (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  state integer,
  company_name varchar(50),
  sb_date timestamp,
  sbr varchar(10),
  phone varchar(20),
  mail varchar(50),
  sbsm text,
  bz_01 varchar(200),
  bz_02 varchar(200),
  bz_03 varchar(200),
  bz_04 varchar(200),
  bz_05 varchar(200),
  bz_06 varchar(200),
  bz_07 varchar(200),
  bz_08 varchar(200),
  bz_09 varchar(200),
  bz_10 varchar(200),
  hg_01 integer,
  hg_02 integer,
  hg_03 integer,
  hg_04 integer,
  hg_05 integer,
  hg_06 integer,
  hg_07 integer,
  hg_08 integer,
  hg_09 integer,
  hg_10 integer,
  ks_01 double precision,
  ks_02 double precision,
  ks_03 double precision,
  ks_04 double precision,
  ks_05 double precision,
  ks_06 double precision,
  ks_07 double precision,
  ks_08 double precision,
  ks_09 double precision,
  ks_10 double precision,
  xf_01 double precision,
  xf_02 double precision,
  xf_03 double precision,
  xf_04 double precision,
  xf_05 double precision,
  xf_06 double precision,
  xf_07 double precision,
  xf_08 double precision,
  xf_09 double precision,
  xf_10 double precision,
  xs_01 varchar(100),
  xs_02 varchar(100),
  xs_03 varchar(100),
  xs_04 varchar(100),
  xs_05 varchar(100),
  xs_06 varchar(10),
  xs_07 varchar(10),
  xs_08 varchar(10),
  xs_09 varchar(10),
  xs_10 varchar(10),
  yp_01 integer,
  yp_02 integer,
  yp_03 integer,
  yp_04 integer,
  yp_05 integer,
  yp_06 integer,
  yp_07 integer,
  yp_08 integer,
  yp_09 integer,
  yp_10 integer,
  px_manage_option varchar(200),
  tel varchar(50),
  sbid varchar(50),
  primary key (pkid, company_num)
);

create index rs_w00028_com_unit_date on rs_w00028_com (company_num, sb_date);

-- Training: a worker's credits per subject.
create table rs_w00028 (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  worker_code varchar(20) not null,
  state integer,
  worker_name varchar(20),
  sex varchar(10),
  card_no varchar(40),
  over_pxrw varchar(10),
  px_yj varchar(200),
  xf01 double precision,
  xf02 double precision,
  xf03 double precision,
  xf04 double precision,
  xf05 double precision,
  xf06 double precision,
  xf07 double precision,
  xf08 double precision,
  xf09 double precision,
  xf10 double precision,
  px_year varchar(10),
  primary key (pkid, company_num, worker_code)
);

create index rs_w00028_unit_worker on rs_w00028 (company_num, worker_code);

-- Training subjects of a declaration: 01 to 05 fixed, 06 to 10 the unit's own ('其他' when unnamed).
create table rs_px_type (
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  code varchar(10) not null,
  name varchar(20),
  ks double precision,
  xf double precision,
  xs varchar(10),
  yp integer,
  hg integer,
  bz varchar(200),
  primary key (pkid, company_num, code)
);

-- Reward: the unit form of a provincial-system reward.
create table rs_w00041_com (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  state integer,
  company_name varchar(50),
  sb_date timestamp,
  sbr varchar(10),
  phone varchar(20),
  mail varchar(50),
  sbsm text,
  jl_sj_time timestamp,
  jl_fw varchar(50),
  jl_jt_ff varchar(100),
  jl_gr_ff varchar(100),
  jl_zz varchar(50),
  jl_jt_all integer,
  jl_jt_rate double precision,
  jl_jt_num integer,
  jl_gr_all integer,
  jl_gr_rate double precision,
  jl_gr_num integer,
  jl_sj_xjjt integer,
  jl_sj_gr integer,
  tel varchar(50),
  sbid varchar(50),
  primary key (pkid, company_num)
);

create index rs_w00041_com_unit_date on rs_w00041_com (company_num, sb_date);

-- Reward: the unit form of a provincial-government reward.
create table rs_w00042_com (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  state integer,
  company_name varchar(50),
  sb_date timestamp,
  sbr varchar(10),
  phone varchar(20),
  mail varchar(50),
  sbsm text,
  jl_sj_time timestamp,
  jl_fw varchar(50),
  jl_jt_ff varchar(100),
  jl_gr_ff varchar(100),
  jl_zz varchar(50),
  jl_jt_all integer,
  jl_jt_rate double precision,
  jl_jt_num integer,
  jl_gr_all integer,
  jl_gr_rate double precision,
  jl_gr_num integer,
  jl_sj_xjjt integer,
  jl_sj_gr integer,
  jl_mc varchar(100),
  tel varchar(50),
  sbid varchar(50),
  primary key (pkid, company_num)
);

create index rs_w00042_com_unit_date on rs_w00042_com (company_num, sb_date);

-- Reward: the unit form of a civil-servant reward.
create table rs_w00033_com (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  state integer,
  company_name varchar(50),
  sb_date timestamp,
  sbr varchar(10),
  phone varchar(20),
  mail varchar(50),
  sbsm text,
  tel varchar(50),
  sbid varchar(50),
  primary key (pkid, company_num)
);

create index rs_w00033_com_unit_date on rs_w00033_com (company_num, sb_date);

-- Reward: the rewarded workers of all three reward kinds (told apart by pkid).
create table rs_w00033 (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  worker_code varchar(20) not null,
  state integer,
  sex varchar(10),
  card_no varchar(40),
  worker_name varchar(20),
  jl_name varchar(10),
  jl_date timestamp,
  post varchar(40),
  jl_gg varchar(10),
  primary key (pkid, company_num, worker_code)
);

create index rs_w00033_unit_worker on rs_w00033 (company_num, worker_code);

-- Reward candidates: persons.
create table rs_w00046_com (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  state integer,
  company_name varchar(50),
  sb_date timestamp,
  sbr varchar(10),
  phone varchar(20),
  mail varchar(50),
  sbsm text,
  tel varchar(50),
  sbid varchar(50),
  primary key (pkid, company_num)
);

create index rs_w00046_com_unit_date on rs_w00046_com (company_num, sb_date);

-- Candidate persons ('9' + six digits per unit): post, reward sought, deeds.
create table rs_w00046 (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  worker_code varchar(20) not null,
  state integer,
  worker_name varchar(20),
  sex varchar(10),
  card_no varchar(40),
  post varchar(40),
  jl_name varchar(10),
  sjcl text,
  primary key (pkid, company_num, worker_code)
);

create index rs_w00046_unit_worker on rs_w00046 (company_num, worker_code);

-- Reward candidates: units.
create table rs_w00047_com (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  state integer,
  company_name varchar(50),
  sb_date timestamp,
  sbr varchar(10),
  phone varchar(20),
  mail varchar(50),
  sbsm text,
  tel varchar(50),
  sbid varchar(50),
  primary key (pkid, company_num)
);

create index rs_w00047_com_unit_date on rs_w00047_com (company_num, sb_date);

-- Candidate units ('9' + six digits per unit), hx_company their name.
create table rs_w00047 (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  worker_code varchar(20) not null,
  state integer,
  hx_company varchar(100),
  card_no varchar(40),
  post varchar(40),
  jl_name varchar(10),
  sjcl text,
  primary key (pkid, company_num, worker_code)
);

create index rs_w00047_unit_worker on rs_w00047 (company_num, worker_code);

-- Resignation.
create table rs_w00043_com (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  state integer,
  company_name varchar(50),
  sb_date timestamp,
  sbr varchar(10),
  phone varchar(20),
  mail varchar(50),
  sbsm text,
  sbid varchar(50),
  tel varchar(50),
  primary key (pkid, company_num)
);

create index rs_w00043_com_unit_date on rs_w00043_com (company_num, sb_date);

create table rs_w00043 (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  worker_code varchar(20) not null,
  state integer,
  worker_name varchar(20),
  sex varchar(10),
  post varchar(40),
  fwnx double precision,
  cz_date timestamp,
  card_no varchar(40),
  primary key (pkid, company_num, worker_code)
);

create index rs_w00043_unit_worker on rs_w00043 (company_num, worker_code);

-- Dismissal.
create table rs_w00044_com (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  state integer,
  company_name varchar(50),
  sb_date timestamp,
  sbr varchar(10),
  phone varchar(20),
  mail varchar(50),
  sbsm text,
  tel varchar(50),
  sbid varchar(50),
  primary key (pkid, company_num)
);

create index rs_w00044_com_unit_date on rs_w00044_com (company_num, sb_date);

create table rs_w00044 (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  worker_code varchar(20) not null,
  state integer,
  worker_name varchar(20),
  sex varchar(10),
  post varchar(40),
  ct_reason varchar(200),
  ct_date timestamp,
  card_no varchar(40),
  primary key (pkid, company_num, worker_code)
);

create index rs_w00044_unit_worker on rs_w00044 (company_num, worker_code);

-- Discipline: the unit's head count and the number punished per kind.
create table rs_w00029_com (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  state integer,
  company_name varchar(50),
  sb_date timestamp,
  sbr varchar(10),
  phone varchar(20),
  mail varchar(50),
  sbsm text,
  now_mans integer,
  djcf_jg integer,
  djcf_yzjg integer,
  djcf_cxzw integer,
  djcf_ldck integer,
  djcf_kcdj integer,
  gwycf_jg integer,
  gwycf_jig integer,
  gwycf_jdg integer,
  gwycf_jj integer,
  gwycf_cz integer,
  gwycf_kc integer,
  qtcf integer,
  tel varchar(50),
  sbid varchar(50),
  primary key (pkid, company_num)
);

create index rs_w00029_com_unit_date on rs_w00029_com (company_num, sb_date);

-- Discipline: punish_name holds the punishment code, cf_type its category text.
create table rs_w00029 (
  createdate timestamp,
  createby varchar(20),
  lastupdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  worker_code varchar(20) not null,
  state integer,
  worker_name varchar(20),
  sex varchar(10),
  card_no varchar(40),
  punish_date timestamp,
  cf_type varchar(100),
  punish_name varchar(10),
  punish_reason varchar(10),
  rescind_date timestamp,
  primary key (pkid, company_num, worker_code)
);

create index rs_w00029_unit_worker on rs_w00029 (company_num, worker_code);

-- ---------------------------------------------------------------------------
-- Further declaration tables, read by lists only
-- ---------------------------------------------------------------------------

create table rs_w00026 (
  createby varchar(20),
  createdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  lastupdate timestamp,
  company_num varchar(20) not null,
  state integer,
  worker_code varchar(20) not null,
  worker_name varchar(20),
  kh_code varchar(10),
  kh_result varchar(10),
  kh_date1 timestamp,
  kh_date2 timestamp,
  kh_desc varchar(200),
  kh_dw varchar(50),
  card_no varchar(40),
  sex varchar(10),
  jb varchar(10),
  stuff_status varchar(10),
  is_fpyzyj varchar(10),
  bddc_type varchar(10),
  wkh_type varchar(10),
  post varchar(40),
  primary key (pkid, company_num, worker_code)
);

create index rs_w00026_unit_worker on rs_w00026 (company_num, worker_code);

create table rs_w00096 (
  createby varchar(20),
  createdate timestamp,
  lastupdateby varchar(20),
  pkid varchar(10) not null,
  lastupdate timestamp,
  company_num varchar(20) not null,
  state integer,
  worker_code varchar(20) not null,
  worker_name varchar(20),
  kh_code varchar(10),
  kh_result varchar(10),
  kh_date1 timestamp,
  kh_date2 timestamp,
  kh_desc varchar(200),
  kh_dw varchar(50),
  card_no varchar(40),
  sex varchar(10),
  jb varchar(10),
  stuff_status varchar(10),
  is_fpyzyj varchar(10),
  bddc_type varchar(10),
  wkh_type varchar(10),
  post varchar(40),
  primary key (pkid, company_num, worker_code)
);

create index rs_w00096_unit_worker on rs_w00096 (company_num, worker_code);

create table rs_w00063 (
  company_num varchar(20) not null,
  pkid varchar(10) not null,
  worker_code varchar(20) not null,
  state integer,
  worker_name varchar(20),
  sex varchar(10),
  birthday timestamp,
  card_no varchar(40),
  people_standing varchar(10),
  first_degree varchar(20),
  ld_way varchar(10),
  ld_date timestamp,
  lrdw varchar(40),
  lcdw varchar(40),
  ldsm varchar(200),
  zyjhlx varchar(10),
  hometown varchar(40),
  nation varchar(20),
  family varchar(10),
  politics varchar(20),
  john_party_date timestamp,
  xuewei varchar(10),
  job_date timestamp,
  approve_company varchar(10),
  stuff_status varchar(20),
  post varchar(40),
  blood_type varchar(10),
  xsbx varchar(250),
  jb varchar(10),
  arxm varchar(20),
  argzdw varchar(50),
  arhkszd varchar(40),
  learn_memo varchar(100),
  byyx varchar(50),
  jcqk text,
  address varchar(80),
  resume varchar(255),
  yzbm varchar(6),
  state_001 numeric(18,2),
  person_001 varchar(10),
  date_001 timestamp,
  state_002 numeric(18,2),
  person_002 varchar(10),
  date_002 timestamp,
  state_003 numeric(18,2),
  person_003 varchar(10),
  date_003 timestamp,
  state_004 numeric(18,2),
  person_004 varchar(10),
  date_004 timestamp,
  ld_ldfx varchar(10),
  rzbm varchar(50),
  y_zwmc varchar(10),
  zyjhkh varchar(12),
  primary key (pkid, company_num, worker_code)
);

create index rs_w00063_unit_worker on rs_w00063 (company_num, worker_code);

create table rs_w00082 (
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  worker_code varchar(20) not null,
  state integer,
  worker_name varchar(20),
  sex varchar(10),
  birthday timestamp,
  card_no varchar(40),
  people_standing varchar(10),
  first_degree varchar(20),
  ld_way varchar(10),
  ld_date timestamp,
  lrdw varchar(40),
  ldsm varchar(200),
  lcdw varchar(40),
  zyjhlx varchar(10),
  xrgz varchar(30),
  yhtc varchar(50),
  ld_gzdj varchar(20),
  lrdwsyzxz varchar(20),
  lcdwsyzxz varchar(20),
  xsbx varchar(250),
  politics varchar(20),
  hometown varchar(40),
  stuff_status varchar(20),
  zrjhkbh varchar(15),
  resume varchar(255),
  blood_type varchar(10),
  nation varchar(20),
  jb varchar(10),
  post varchar(40),
  primary key (pkid, company_num, worker_code)
);

create index rs_w00082_unit_worker on rs_w00082 (company_num, worker_code);

create table rs_w00092 (
  pkid varchar(10) not null,
  company_num varchar(20) not null,
  worker_code varchar(20) not null,
  state integer,
  worker_name varchar(20),
  sex varchar(10),
  birthday timestamp,
  card_no varchar(40),
  nation varchar(20),
  hometown varchar(40),
  family varchar(10),
  john_party_date timestamp,
  politics varchar(20),
  first_degree varchar(20),
  xuewei varchar(10),
  learn_memo varchar(100),
  byyx varchar(50),
  job_date timestamp,
  post varchar(40),
  jb varchar(10),
  people_standing varchar(10),
  stuff_status varchar(20),
  approve_company varchar(10),
  yzbm varchar(6),
  blood_type varchar(10),
  address varchar(80),
  bscj numeric(18,2),
  jcqk text,
  jscj numeric(18,2),
  mscj numeric(18,2),
  zcj numeric(18,2),
  kczsyj varchar(10),
  xsbx varchar(250),
  ld_way varchar(10),
  ld_date timestamp,
  lrdw varchar(40),
  lcdw varchar(40),
  zyjhlx varchar(10),
  sfhqtb varchar(10),
  bz varchar(200),
  tjjl varchar(10),
  yzwhzc varchar(40),
  primary key (pkid, company_num, worker_code)
);

create index rs_w00092_unit_worker on rs_w00092 (company_num, worker_code);

-- Declaration pkid numbers start at 1, one sequence per worker table: the three reward kinds
-- (rs_w00041_com, rs_w00042_com, rs_w00033_com) share rs_w00033 and so share one sequence.
-- Every worker table has its row from the start, the candidate tables too, so that two first
-- saves never race to create it; numbering new persons locks the same row.
insert into sb_key_counter (table_name, next_value) values ('rs_w00031', 1);
insert into sb_key_counter (table_name, next_value) values ('rs_w00034', 1);
insert into sb_key_counter (table_name, next_value) values ('rs_w00028', 1);
insert into sb_key_counter (table_name, next_value) values ('rs_w00033', 1);
insert into sb_key_counter (table_name, next_value) values ('rs_w00043', 1);
insert into sb_key_counter (table_name, next_value) values ('rs_w00044', 1);
insert into sb_key_counter (table_name, next_value) values ('rs_w00029', 1);
insert into sb_key_counter (table_name, next_value) values ('rs_w00046', 1);
insert into sb_key_counter (table_name, next_value) values ('rs_w00047', 1);

-- What each step of a declaration changed, row by row, in any table but the history, the
-- journal itself, the key counters and the users: written by the database (journal triggers)
-- while the declaration gate makes the step. row_key, before_values and after_values are JSON
-- objects (for an update, of the changed columns only).
create table sb_journal (
  pk_id @IDENTITY@,
  history_id bigint not null,
  target varchar(30) not null,
  action varchar(6) not null,
  row_key text not null,
  before_values text,
  after_values text,
  worker_code varchar(20)
);
create index sb_journal_history on sb_journal (history_id, pk_id);
create index sb_journal_worker on sb_journal (worker_code, pk_id);

-- ---------------------------------------------------------------------------
-- What the servers of one database share (`shenbao serve`, one or several). Times in these
-- tables are milliseconds since 1970 (UTC) as whole numbers, so that every server and both
-- databases compare them alike.
-- ---------------------------------------------------------------------------

-- The audit log the authority reads in w_audit_log: logins, refusals, acceptances, deletions,
-- exports. Each server writes here what it writes to its log file; `server` names the
-- server that wrote the row.
create table sb_audit_log (
  pk_id @IDENTITY@,
  at timestamp not null,
  username varchar(20),
  company_num varchar(20),
  address varchar(64),
  event varchar(40) not null,
  detail varchar(500),
  server varchar(64)
);
create index sb_audit_log_at on sb_audit_log (at, pk_id);

-- Failed logins under one key: kind 'account' (a user name), 'address' (a client's address)
-- or 'device' (a device token's id, hex). checking counts the attempts being checked, until
-- checking_until; next_check: no attempt is checked before it.
create table sb_login_wait (
  kind varchar(10) not null,
  wait_key varchar(100) not null,
  failures integer not null,
  checking integer not null,
  checking_until bigint not null,
  last_failure bigint not null,
  next_check bigint not null,
  primary key (kind, wait_key)
);

-- Keys every server uses alike: 'device' signs the device tokens of browsers that have logged
-- in (base64). Made by the first server that needs it.
create table sb_server_key (
  name varchar(20) not null,
  key_value varchar(100) not null,
  primary key (name)
);

-- The servers that hold seats, each with the last time it said it was alive.
create table sb_server (
  server_id varchar(40) not null,
  address varchar(100),
  seen bigint not null,
  primary key (server_id)
);

-- One row per login session of any server, or a login being set up (pending 1): what the
-- seat count counts. A server whose session's row is gone ends that session.
create table sb_seat (
  seat_id varchar(80) not null,
  server_id varchar(40) not null,
  username varchar(20) not null,
  authority integer not null,
  since bigint not null,
  pending integer not null,
  primary key (seat_id)
);
create index sb_seat_server on sb_seat (server_id);
