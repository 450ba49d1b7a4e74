// Shared helpers for the tests.
#pragma once
