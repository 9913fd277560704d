// dormix-web: the settings page, run by the router's web server as a CGI
// program. The analysis is dormix-check's; this program adds the form, the
// safe save and the restart.
#include <stdio.h>

#include "web/serve.h"
#include "web/system.h"

namespace {

// Large: static, so that the stack stays small.
web_session session;

}  // namespace

int main() {
  const web_platform router = router_web_platform();
  const web_answer answer = answer_request(router, &session);
  return write_answer(answer, session, stdout);
}
