SELECT setting_value AS value FROM global_settings WHERE section = '%s' AND setting_key = '%s'
