// dormix-web: the settings page, run by the router's web server as a CGI
// program. The analysis is dormix-check's; this program adds the form, the
// safe save and the restart.
#include <stdio.h>

#include "web/serve.h"
#include "web/system.h"

namespace {

// Large: static, so that the stack stays small.
web_session session;
// The whole page in one write: the C library's own buffer for stdout may
// be 1 KiB, a system call for every kilobyte of a page of some twenty.
char page_buffer[32768];

}  // namespace

int main() {
  setvbuf(stdout, page_buffer, _IOFBF, sizeof page_buffer);
  const web_platform router = router_web_platform();
  const web_answer answer = answer_request(router, &session);
  return write_answer(answer, session, stdout);
}
