// Asks the service control manager to start the service that hosts the
// Thunderbolt provider. Reports nothing and does not wait for the service to
// run: the update waits a fixed time after it instead.
#pragma once

void StartTbtService(const wchar_t* serviceName);
