# cmake -D pdfinfo=PROGRAM -D pdf=FILE -D page=NAME -D most=N -P page_limit.cmake
# Fails, naming the page, when FILE has more than N pages, or when pdfinfo cannot count them.
execute_process(COMMAND ${pdfinfo} ${pdf} RESULT_VARIABLE status OUTPUT_VARIABLE info ERROR_VARIABLE info)
if(NOT status EQUAL 0 OR NOT info MATCHES "Pages: +([0-9]+)")
  message(FATAL_ERROR "${page}: pdfinfo could not count the pages of ${pdf}:\n${info}")
endif()
set(pages ${CMAKE_MATCH_1})
if(pages GREATER most)
  message(FATAL_ERROR "${page} has ${pages} pages; its limit is ${most}")
endif()
