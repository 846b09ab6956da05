#pragma once
// GoogleTest with the machine-context register names of glibc kept out of
// the way of encoder/operand.h's (see sys_regs_shim.h).
#include "../unit/sys_regs_shim.h"
#include <gtest/gtest.h>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
