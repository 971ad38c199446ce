# Generates the C++ message classes and type supports from the IDL sources.
#
# Run as a script (cmake -P) with:
#   FASTDDSGEN  the code generator
#   IDL_DIR     folder of the IDL sources
#   GEN_DIR     output folder (emptied first)
#   TMP_DIR     scratch folder of the generator's preprocessor
#   TYPES       the types that get a type support
#   NESTED      the types that are only embedded in others (no type support)
#
# After generation two mechanical edits are made, each checked so that a
# different generator output fails the build instead of passing unnoticed:
#   - the type supports of the NESTED types are removed;
#   - the body of every <T>PubSubType::deserialize is replaced by a call to
#     aspn2_msgs::readPayload (aspn2_msgs/PayloadReader.h), which checks
#     the payload before the generated T::deserialize runs and turns every
#     decoding failure into a false result.

foreach(var FASTDDSGEN IDL_DIR GEN_DIR TMP_DIR TYPES NESTED)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "GenerateTypes.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${GEN_DIR} ${TMP_DIR})
file(MAKE_DIRECTORY ${GEN_DIR} ${TMP_DIR})

set(idl_files)
foreach(t IN LISTS NESTED TYPES)
  list(APPEND idl_files ${IDL_DIR}/${t}.idl)
endforeach()

# One generator run for all files: each run starts a JVM, which costs far
# more than the generation itself.
execute_process(
  COMMAND ${FASTDDSGEN} -replace -d ${GEN_DIR} -I ${IDL_DIR} -t ${TMP_DIR} ${idl_files}
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR out MATCHES "ERROR")
  message(FATAL_ERROR "fastddsgen failed (${rc}):\n${out}")
endif()
file(REMOVE_RECURSE ${TMP_DIR})

foreach(t IN LISTS NESTED)
  file(REMOVE ${GEN_DIR}/${t}PubSubTypes.h ${GEN_DIR}/${t}PubSubTypes.cxx)
endforeach()

# Replaces the one occurrence of `from` in `text` by `to`; fails otherwise.
function(replace_once text_var from to file)
  string(FIND "${${text_var}}" "${from}" first)
  string(FIND "${${text_var}}" "${from}" last REVERSE)
  if(first EQUAL -1 OR NOT first EQUAL last)
    message(FATAL_ERROR "${file}: expected exactly one occurrence of:\n${from}")
  endif()
  string(REPLACE "${from}" "${to}" result "${${text_var}}")
  set(${text_var} "${result}" PARENT_SCOPE)
endfunction()

foreach(t IN LISTS TYPES)
  set(file ${GEN_DIR}/${t}PubSubTypes.cxx)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "fastddsgen did not write ${file}")
  endif()
  file(READ ${file} text)

  replace_once(text
    "#include \"${t}PubSubTypes.h\"\n"
    "#include \"${t}PubSubTypes.h\"\n#include \"aspn2_msgs/PayloadReader.h\"\n"
    ${file})

  # The generated function runs from its signature to the definition of
  # getSerializedSizeProvider that follows it.
  set(begin "bool ${t}PubSubType::deserialize(")
  set(end "std::function<uint32_t()> ${t}PubSubType::getSerializedSizeProvider(")
  string(FIND "${text}" "${begin}" b)
  string(FIND "${text}" "${end}" e)
  if(b EQUAL -1 OR e EQUAL -1 OR NOT b LESS e)
    message(FATAL_ERROR "${file}: deserialize not found where expected")
  endif()
  math(EXPR len "${e} - ${b}")
  string(SUBSTRING "${text}" ${b} ${len} generated_body)
  if(NOT generated_body MATCHES "p_type->deserialize\\(deser\\);"
     OR NOT generated_body MATCHES "read_encapsulation\\(\\);")
    message(FATAL_ERROR "${file}: deserialize has an unexpected body:\n${generated_body}")
  endif()
  replace_once(text "${generated_body}"
"bool ${t}PubSubType::deserialize(
                SerializedPayload_t* payload,
                void* data)
        {
            return ::aspn2_msgs::readPayload(*payload, *static_cast<${t}*>(data));
        }

        "
    ${file})

  file(WRITE ${file} "${text}")
endforeach()
