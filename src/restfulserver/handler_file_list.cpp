// "/getFileName_list": sends what answer_file_list decides.
#include "restfulserver/handlers.h"

#include "restfulserver/answer.h"
#include "restfulserver/file_list_answer.h"

void handler_getFileList(transport::Connection& nc, const transport::Request& hm,
                         const std::string& name) {
  serve_query(nc, hm, name, answer_file_list, Sending{NonFinite::kAsLibrary, "write outStr:"});
}
