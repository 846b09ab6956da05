#pragma once

// One instruction operand.
struct TOperand {
};
