/* The floor for a run's cost: the worked example's whole output, one write(). */
#include <unistd.h>

static const char kOutput[] = " Brenmoor Menu \n"
                              " A. Adult membership\n"
                              " B. Child membership\n"
                              " C. Senior membership\n"
                              " D. Family memmbership\n"
                              "Enter your choice: Enter How many Months? Enter Your Name? "
                              "Ann The Total Charge is $ 240.00\n";

int main(void)
{
    const size_t size = sizeof kOutput - 1;
    return write(STDOUT_FILENO, kOutput, size) == (ssize_t)size ? 0 : 1;
}
