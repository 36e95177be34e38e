#pragma once

#include "CommandLine.hpp"

#include <PizzaCore/Foundation/Instant.hpp>

#include <ostream>

namespace velmora::admin {

// Each command writes its result to `out` and returns the exit status; refusals are thrown
// (Refusal, or the core's PCError and JSONError) and misuse found only once the data is read
// (a range whose end is before its start) is thrown as Misuse. `now` is the moment the command
// runs, for "today"; nothing else reads the clock.

int verify(const VerifyRequest& request, std::ostream& out);
int dayReport(const ReportRequest& request, pizzacore::Instant now, std::ostream& out);
int orderList(const OrdersRequest& request, pizzacore::Instant now, std::ostream& out);
int ticket(const TicketRequest& request, std::ostream& out);
// Tells the Velmora open for this user of an incoming call (see PizzaCore/Calls/CallSocket.hpp).
int announceCall(const CallRequest& request, std::ostream& out);

} // namespace velmora::admin
