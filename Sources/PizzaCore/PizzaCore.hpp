#pragma once

// The public API of the core library.

#include <PizzaCore/Fiscal/FiscalModels.hpp>
#include <PizzaCore/Fiscal/FiscalMoney.hpp>
#include <PizzaCore/Foundation/Bytes.hpp>
#include <PizzaCore/Foundation/Instant.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Text.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>
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
