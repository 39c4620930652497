// The Windows fault matrix's hold on the backend's system calls, in standard
// types: the half of the matrix that runs the program includes the
// framework's headers, which cannot meet the system's.
#pragma once

#include <string>
#include <vector>

namespace faults {

// Puts every call of the backend's table through the matrix. Once, first.
void Install();

// The table of ways a call fails: its size, and one row's "call: how".
int Count();
std::string Name(int fault);
// True for a fault the run must absorb and end as it would without it.
bool Absorbed(int fault);
// The file error cause every run the fault strikes must report, or 0.
int Cause(int fault);
// From now on the fault strikes the nth call it names; 0 disarms.
void Arm(int fault, int nth);
bool Met();
// Runs the action once, just before the backend's next flush: what another
// program may do while the output is still unnamed.
void BeforeFlush(void (*action)());

// The files the backend asked the shell to start, each with its bytes at
// that moment; emptied by Arm.
struct Launch {
  std::string path;
  std::vector<unsigned char> bytes;
};
const std::vector<Launch>& Launches();
// Handles the backend holds open.
int OpenHandles();
// False once a run changed the process's error mode, which the programs it
// starts inherit.
bool ProcessErrorModeKept();

}  // namespace faults
