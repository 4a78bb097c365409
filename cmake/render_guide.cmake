# Renders the Markdown guide as one HTML page that Windows opens by double-click: UTF-8, the
# pictures beside it (images/), tables with borders.
#   cmake -DCMARK_GFM=<cmark-gfm> -DINPUT=<guide.md> -DOUTPUT=<guide.html> -P render_guide.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(
  COMMAND ${CMARK_GFM} --extension table --extension autolink --unsafe --to html ${INPUT}
  OUTPUT_VARIABLE body RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cmark-gfm could not render ${INPUT}")
endif()
# A line break between two Chinese characters is no space in Chinese, but browsers other than
# Firefox show one: such breaks are taken out, except inside preformatted blocks.
function(join_chinese_lines text out)
  string(REGEX REPLACE "([^\n\t -~])\n([^\n\t -~])" "\\1\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
set(rest "${body}")
set(body "")
while(TRUE)
  string(FIND "${rest}" "<pre" at)
  if(at EQUAL -1)
    join_chinese_lines("${rest}" prose)
    string(APPEND body "${prose}")
    break()
  endif()
  string(SUBSTRING "${rest}" 0 ${at} prose)
  join_chinese_lines("${prose}" prose)
  string(SUBSTRING "${rest}" ${at} -1 rest)
  string(FIND "${rest}" "</pre>" end)
  math(EXPR end "${end} + 6")
  string(SUBSTRING "${rest}" 0 ${end} preformatted)
  string(SUBSTRING "${rest}" ${end} -1 rest)
  string(APPEND body "${prose}${preformatted}")
endwhile()

file(STRINGS ${INPUT} title LIMIT_COUNT 1 REGEX "^# " ENCODING UTF-8)
string(REGEX REPLACE "^# " "" title "${title}")
file(WRITE ${OUTPUT} "<!DOCTYPE html>
<html lang=\"zh-CN\">
<head>
<meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>${title}</title>
<style>
body { max-width: 60em; margin: 2em auto; padding: 0 1em; line-height: 1.6;
       font-family: \"Microsoft YaHei\", \"PingFang SC\", \"Noto Sans CJK SC\", sans-serif; }
code, pre { font-family: Consolas, \"Courier New\", monospace; }
pre { background: #f4f4f4; padding: 0.6em; overflow-x: auto; }
table { border-collapse: collapse; }
th, td { border: 1px solid #bbb; padding: 0.3em 0.5em; vertical-align: top; }
img { max-width: 100%; }
</style>
</head>
<body>
${body}</body>
</html>
")
