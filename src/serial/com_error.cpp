#include "com_error.h"

#include <utility>

EComError::EComError(int32_t Code, std::string Message)
    : ErrorCode(Code), FMessage(std::move(Message))
{
}
