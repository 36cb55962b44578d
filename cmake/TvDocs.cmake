# The docs target: docs/api.md, the API reference written from the comments beside the
# exported headers' declarations (cmake/ApiReference.cmake). It fails when an exported
# function or record has no comment. The page is kept in the tree so the README can link it;
# scripts/docs.sh --check tells whether it is current.
file(GLOB tv_doc_headers ${PROJECT_SOURCE_DIR}/libwinclass/*.h ${PROJECT_SOURCE_DIR}/liblocal/*.h)
list(REMOVE_ITEM tv_doc_headers ${PROJECT_SOURCE_DIR}/liblocal/vodevices.h)
list(SORT tv_doc_headers)
# Joined with | so that the custom command takes the list as one argument.
string(REPLACE ";" "|" tv_doc_headers_arg "${tv_doc_headers}")
add_custom_target(docs
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${PROJECT_SOURCE_DIR}/docs/api.md "-DHEADERS=${tv_doc_headers_arg}"
          -DROOT=${PROJECT_SOURCE_DIR} -DSTRICT=ON -P ${PROJECT_SOURCE_DIR}/cmake/ApiReference.cmake
  COMMENT "Writing docs/api.md from the exported headers"
  VERBATIM)
