#pragma once

// The public API of the core library.

#include <PizzaCore/Calls/CallSocket.hpp>
#include <PizzaCore/Calls/CallerNumber.hpp>
#include <PizzaCore/Documents/InvoiceRenderer.hpp>
#include <PizzaCore/Documents/TicketRenderer.hpp>
#include <PizzaCore/Fiscal/CertificateDER.hpp>
#include <PizzaCore/Fiscal/FiscalModels.hpp>
#include <PizzaCore/Models/FiscalMoney.hpp>
#include <PizzaCore/Fiscal/FiscalRecords.hpp>
#include <PizzaCore/Fiscal/FiscalRules.hpp>
#include <PizzaCore/Fiscal/FiscalSignature.hpp>
#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Foundation/Clock.hpp>
#include <PizzaCore/Foundation/Folding.hpp>
#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Text.hpp>
#include <PizzaCore/Foundation/TextCompare.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Journal/DocumentChange.hpp>
#include <PizzaCore/Journal/Journal.hpp>
#include <PizzaCore/Json/Json.hpp>
#include <PizzaCore/Models/Audit.hpp>
#include <PizzaCore/Models/Catalog.hpp>
#include <PizzaCore/Models/Customer.hpp>
#include <PizzaCore/Models/Database.hpp>
#include <PizzaCore/Models/Enumerations.hpp>
#include <PizzaCore/Models/Money.hpp>
#include <PizzaCore/Models/Orders.hpp>
#include <PizzaCore/Models/PhoneKey.hpp>
#include <PizzaCore/Models/Session.hpp>
#include <PizzaCore/Models/Settings.hpp>
#include <PizzaCore/Operations/BusinessClock.hpp>
#include <PizzaCore/Persistence/DataDirectory.hpp>
#include <PizzaCore/Persistence/Repository.hpp>
