// Placeholder translation unit for a core module that has no sources yet.
