// Releases a POSIX named semaphore once, as an installer does to close the start notice:
//   sem_post_helper NAME      (NAME without the leading slash)
#include <fcntl.h>
#include <semaphore.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sem_post_helper NAME\n");
    return 2;
  }
  const std::string name = std::string("/") + argv[1];
  sem_t* semaphore = sem_open(name.c_str(), 0);
  if (semaphore == SEM_FAILED) {
    std::perror("sem_open");
    return 1;
  }
  const int result = sem_post(semaphore);
  sem_close(semaphore);
  return result == 0 ? 0 : 1;
}
