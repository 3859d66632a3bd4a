// Releases the POSIX named semaphore /NAME once, as an installer does to close the start
// notice: sem_post_helper NAME
#include <fcntl.h>
#include <semaphore.h>

#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  sem_t* semaphore = sem_open((std::string("/") + argv[1]).c_str(), 0);
  return semaphore != SEM_FAILED && sem_post(semaphore) == 0 ? 0 : 1;
}
