// Placeholder translation unit until the start-up sequence lands.
