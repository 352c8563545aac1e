#!/bin/sh
# Builds the libFuzzer harnesses with clang and runs each for FUZZ_SECONDS (default 30) seconds,
# starting from the seeds in fuzz/corpus/<name>/. Found inputs go to build-fuzz/corpus/<name>/,
# crashes to build-fuzz/crash-*. Usage: fuzz/run.sh [name...]
#   syntax_fuzz      the form definition syntax
#   expression_fuzz  expressions and display formats
#   event_fuzz       the body of POST /api/event (parse_event, check_event)
#   date_entry_fuzz  DateTime::parse and the entry of date and number cells (parse_entry)
set -e
cd "$(dirname "$0")/.."
out=build-fuzz
seconds=${FUZZ_SECONDS:-30}
mkdir -p "$out"
parsers="framework/runtime/values/value.cpp framework/runtime/values/column_type.cpp framework/runtime/forms/syntax.cpp
         framework/runtime/forms/expression.cpp framework/runtime/forms/form_def.cpp"
names=${*:-"syntax_fuzz expression_fuzz event_fuzz date_entry_fuzz"}
for name in $names; do
  libs=
  case $name in
    event_fuzz) sources="server/event_request.cpp framework/runtime/values/value.cpp" ;;
    # parse_entry lives among the data store's code, which reaches the SQL layer.
    date_entry_fuzz)
      sources="$(ls framework/runtime/values/*.cpp framework/runtime/sql/*.cpp framework/runtime/forms/*.cpp)"
      libs="$(pkg-config --cflags --libs sqlite3 libpq)" ;;
    *) sources=$parsers ;;
  esac
  clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I. \
    -DSHENBAO_SOURCE_DIR="\"$PWD\"" \
    fuzz/$name.cpp $sources $libs -o "$out/$name"
  mkdir -p "$out/corpus/$name"
  (cd "$out" && ./$name -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=1024 \
     -artifact_prefix=./crash-$name- corpus/$name ../fuzz/corpus/$name)
done
