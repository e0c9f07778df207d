#include "platform/console_pause.hpp"
#include "platform/descriptor_buffers.hpp"
#include "program.hpp"

#include <ostream>

int main()
{
    // Buffers of the program's own over the standard descriptors, so that a
    // failed read or write keeps its errno for the report.
    membership::DescriptorReader input(membership::kStandardInput);
    membership::DescriptorWriter output(membership::kStandardOutput);
    membership::DescriptorWriter errorBuffer(membership::kStandardError);
    std::ostream errors(&errorBuffer);
    return membership::runProgram(input, output, errors, membership::pauseConsole);
}
