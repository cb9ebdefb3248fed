#include "job/send_job.h"

namespace velkaro {

int SendJob::RunTestSend(int, const std::string&) {
  return -1;
}

}  // namespace velkaro
