// placeholder, replaced by the acquisition thread implementation
