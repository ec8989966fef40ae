UPDATE named_objects SET kind = %d, name = '%s', content = '%s' WHERE object_id = %u
