# corvane_version_resource(<target> [LANGUAGE <hex>] [CODEPAGE <hex>] [<Key> <Value>]...)
#
# Gives <target> a version resource: a VS_VERSIONINFO block in the ELF section
# that GetFileVersionInfoSizeW / GetFileVersionInfoW / VerQueryValueW read.
# The texts go into the StringFileInfo table of LANGUAGE and CODEPAGE
# (default 0409 and 04E4, the table the report reads), in the order given.
# Left out, these keys take the project's values: CompanyName "Corvane",
# ProductName "Corvane", FileVersion and ProductVersion the project version,
# InternalName the target's name, OriginalFilename its file name. Values may
# hold generator expressions but no line breaks or semicolons.
#
#   corvane_version_resource(CorvaneViewer
#     FileDescription "Corvane report viewer"
#     LegalCopyright "Copyright (C) 2026 Corvane"
#     LegalTradeMarks "Corvane"
#     Comments "Shows a report file"
#     Author "Corvane developers")
function(corvane_version_resource target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "LANGUAGE;CODEPAGE" "")
  set(pairs ${ARG_UNPARSED_ARGUMENTS})
  list(LENGTH pairs count)
  math(EXPR odd "${count} % 2")
  if(odd)
    message(FATAL_ERROR "corvane_version_resource(${target}): keys and values must come in pairs")
  endif()
  if(NOT ARG_LANGUAGE)
    set(ARG_LANGUAGE 0409)
  endif()
  if(NOT ARG_CODEPAGE)
    set(ARG_CODEPAGE 04E4)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(file_type APP)
  else()
    set(file_type DLL)
  endif()

  set(defaults
    CompanyName "Corvane"
    FileVersion "${PROJECT_VERSION}"
    InternalName "${target}"
    OriginalFilename "$<TARGET_FILE_NAME:${target}>"
    ProductName "Corvane"
    ProductVersion "${PROJECT_VERSION}")
  set(content "@Language=${ARG_LANGUAGE}\n@CodePage=${ARG_CODEPAGE}\n@FileType=${file_type}\n")
  set(given "")
  while(pairs)
    list(POP_FRONT pairs key value)
    if(value MATCHES "\n")
      message(FATAL_ERROR "corvane_version_resource(${target}): the value of ${key} holds a line break")
    endif()
    string(APPEND content "${key}=${value}\n")
    list(APPEND given ${key})
  endwhile()
  while(defaults)
    list(POP_FRONT defaults key value)
    if(NOT key IN_LIST given)
      string(APPEND content "${key}=${value}\n")
    endif()
  endwhile()

  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_resource)
  file(GENERATE OUTPUT ${dir}/description.txt CONTENT "${content}")
  add_custom_command(
    OUTPUT ${dir}/VersionResource.cpp
    COMMAND corvane-version-resource ${dir}/description.txt ${dir}/VersionResource.cpp
    DEPENDS corvane-version-resource ${dir}/description.txt
    COMMENT "Version resource of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${dir}/VersionResource.cpp)
endfunction()
