# cmake -DSOFFICE=... -DSOURCE=x.fods -DWORK=dir -DOUTPUT=y.xls -P convert_template.cmake
# soffice exits with 0 even when it converted nothing, so the result is checked.

get_filename_component(stem "${SOURCE}" NAME_WE)
set(converted "${WORK}/converted/${stem}.xls")
file(REMOVE "${converted}")
# A profile of its own: a desktop office the developer has open, or another
# build converting at the same time, must not take the request over.
execute_process(
  COMMAND "${SOFFICE}" "-env:UserInstallation=file://${WORK}/office-profile"
          --headless --norestore --nolockcheck --convert-to xls --outdir "${WORK}/converted" "${SOURCE}"
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 300)
if(NOT rc EQUAL 0 OR NOT EXISTS "${converted}")
  message(FATAL_ERROR "Converting ${SOURCE} failed (${rc}):\n${out}\n${err}")
endif()
file(COPY_FILE "${converted}" "${OUTPUT}")
